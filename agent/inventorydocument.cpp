#include "inventorydocument.h"

#include "invprobe.h"

namespace
{

// Positions in the flags string, one per section.
enum Section {
    Hardware = 0,
    Software = 1,
    Processes = 2,
    Monitoring = 3,
    Users = 4,
    Services = 5,
    StartUp = 6,
    Environment = 7,
    Updates = 8,
    Shares = 9,
};

bool selected(const QString &flags, int position)
{
    return position < flags.size() && flags.at(position) == QLatin1Char('1');
}

} // namespace

QString inventoryDocument(const QString &flags)
{
    QString document = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>");
    QString scratch;
    int result = 0;
    auto step = [&](int r) {
        result |= r;
        document += scratch;
        scratch.clear();
    };

    if (selected(flags, Hardware)) {
        step(query_hardware(scratch));
        step(query_printers(scratch));
        step(query_network_adapters(scratch));
        step(monitor_disk(scratch, false));
    }
    if (selected(flags, Software))
        step(query_Registry_software(scratch));
    if (selected(flags, Processes))
        step(query_process(scratch));
    if (selected(flags, Monitoring)) {
        // The monitoring group collects in one scratch string, appended once.
        int r = monitor_cpu(scratch, false);
        r |= monitor_memory(scratch, false);
        r |= monitor_os_objects(scratch);
        // The disk figures came with the hardware section already.
        if (!selected(flags, Hardware))
            r |= monitor_disk(scratch, false);
        r |= monitor_network(scratch);
        r |= monitor_battery(scratch);
        step(r);
    }
    if (selected(flags, Services))
        step(query_os_services(scratch));
    if (selected(flags, StartUp))
        step(query_startUp_applications(scratch));
    if (selected(flags, Environment))
        step(query_environment_variables(scratch));
    if (selected(flags, Updates))
        step(query_updates(scratch));
    if (selected(flags, Users))
        step(query_users(scratch));
    if (selected(flags, Shares))
        step(query_shares(scratch));

    document += QLatin1String("</document>");
    return result == 0 ? document : QString();
}
