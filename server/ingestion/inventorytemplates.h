#pragma once

#include <QString>
#include <QStringList>

// The query templates of the inventory document, one per repeated element, and of the alarm
// document. Each is the text that follows "declare variable $data external;".
class InventoryTemplates
{
public:
    enum Section {
        OperatingSystem,
        ComputerName,
        Processors,
        Memory,
        Drives,
        Video,
        Batteries,
        Processes,
        RegistrySoftware,
        CpuLoad,
        MemoryLoad,
        SystemObjects,
        DiskLoad,
        NetworkLoad,
        Users,
        Services,
        Updates,
        Printers,
        StartUpApplications,
        Shares,
        Environment,
        NetworkAdapters,
        SectionCount
    };

    enum AlarmKind {
        CpuAlarm,
        MemoryAlarm,
        DiskAlarm,
        StartedAlarmProcesses,
        StoppedAlarmProcesses,
        HardwareChangesAlarm,
        NewSoftwareAlarm,
        DeletedSoftwareAlarm,
        AlarmKindCount
    };

    static QString sectionTemplate(Section section);
    // All section templates, indexed by Section.
    static QStringList sectionTemplates();

    static QString alarmTemplate(AlarmKind kind);
    static QStringList alarmTemplates();
    // The alarm_id written with the rows of a kind.
    static int alarmId(AlarmKind kind);
};
