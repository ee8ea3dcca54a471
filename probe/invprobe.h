#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#if defined(INVPROBE_LIBRARY)
#define INVPROBE_EXPORT Q_DECL_EXPORT
#else
#define INVPROBE_EXPORT Q_DECL_IMPORT
#endif

// Inventory probes. Every call is synchronous, keeps no state and opens its own connection
// to the management interface. Each returns 0 and appends its XML fragment to `text`, or
// returns 1 and replaces the whole of `text` with one failure text.
INVPROBE_EXPORT int query_process(QString &text);
INVPROBE_EXPORT int query_os_services(QString &text);
INVPROBE_EXPORT int query_users(QString &text);
INVPROBE_EXPORT int query_updates(QString &text);
INVPROBE_EXPORT int query_printers(QString &text);
INVPROBE_EXPORT int query_startUp_applications(QString &text);
INVPROBE_EXPORT int query_shares(QString &text);
INVPROBE_EXPORT int query_environment_variables(QString &text);
INVPROBE_EXPORT int query_uptime(QString &text);
INVPROBE_EXPORT int query_WMI_software(QString &text);
INVPROBE_EXPORT int query_network_adapters(QString &text);
INVPROBE_EXPORT int query_disks(QString &text);
INVPROBE_EXPORT int query_hardware(QString &text);
// Appends the (escaped) name of every running process; 1 on failure, never a failure text.
INVPROBE_EXPORT int query_process_list(QStringList &list);

// Monitoring probes. With the flag true, cpu/memory/disk append the bare figure (one number
// per result object, no tags), which the alarm checks read as a decimal number.
INVPROBE_EXPORT int monitor_cpu(QString &text, bool total);
INVPROBE_EXPORT int monitor_memory(QString &text, bool bare);
INVPROBE_EXPORT int monitor_os_objects(QString &text);
INVPROBE_EXPORT int monitor_disk(QString &text, bool total);
INVPROBE_EXPORT int monitor_network(QString &text);
INVPROBE_EXPORT int monitor_battery(QString &text);

// Installed software and the agent's start-up entry. These never write a failure text.
// 0 appended; 1 the software list could not be opened (text unchanged).
INVPROBE_EXPORT int query_Registry_software(QString &text);
// Appends "name--version" per installed program; 1 the list could not be opened.
INVPROBE_EXPORT int query_Registry_software_list(QStringList &list);
// 0 found (uninstall command appended to location); -1 not found or list unavailable.
INVPROBE_EXPORT int find_uninstaller_location(QString name, QString &location);
// 0 entry present and not empty; -1 missing or empty; 1 the start-up list could not be read.
INVPROBE_EXPORT int isAgentStartUpEnabled();
// 0 written; 1 no application path or writing failed; otherwise a system error code.
INVPROBE_EXPORT int setAgentStartUpEnabled();
// 0 deleted; 1 deleting failed (also when missing); otherwise a system error code.
INVPROBE_EXPORT int unsetAgentStartUpEnabled();
// Records the program the start-up entry starts (what the agent's installation keeps on
// Windows); the agent program calls it with its own path when it starts. 0 recorded, 1 not.
INVPROBE_EXPORT int setAgentApplicationPath(const QString &path);
