// The inventory members that list one class: one query, one container, one item per object.
#include "invprobe.h"
#include "probecall.h"
#include "valueforms.h"
#include "wmiconnection.h"

using ProbeCall::ElementSource;

namespace
{

int runStandardMember(QString &text, const char *wql, const char *container, const char *item,
                      std::initializer_list<ElementSource> elements, const QString &failureText)
{
    WmiConnection connection;
    QString failure;
    if (!connection.open(failure))
        return ProbeCall::fail(text, failure);
    auto results = connection.query(QLatin1String(wql));
    if (!results)
        return ProbeCall::fail(text, failureText);

    const QString itemTag = QLatin1String(item);
    QString out = QLatin1Char('<') + QLatin1String(container) + QLatin1Char('>');
    ManagementObject object;
    while (results->next(object)) {
        out += QLatin1Char('<') + itemTag + QLatin1Char('>');
        out += ProbeCall::renderElements(object, elements);
        out += QLatin1String("</") + itemTag + QLatin1Char('>');
    }
    out += QLatin1String("</") + QLatin1String(container) + QLatin1Char('>');
    text += out;
    return 0;
}

} // namespace

int query_process(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Process", "process", "proc",
                             {{"id", "ProcessId"},
                              {"name", "Name"},
                              {"path", "ExecutablePath"},
                              {"description", "Description"}},
                             QStringLiteral("Query for process failed."));
}

int query_os_services(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Service", "services", "service",
                             {{"DisplayName", "DisplayName"},
                              {"Name", "Name"},
                              {"ProcessId", "ProcessId"},
                              {"PathName", "PathName"},
                              {"State", "State"},
                              {"StartMode", "StartMode"},
                              {"ErrorControl", "ErrorControl"}},
                             QStringLiteral("Query for services failed."));
}

int query_users(QString &text)
{
    return runStandardMember(
        text, "SELECT * FROM Win32_UserAccount", "users", "user",
        {{"Caption", "Caption"}, {"Domain", "Domain"}, {"FullName", "FullName"}, {"Name", "Name"}},
        QStringLiteral("Query for users failed."));
}

int query_updates(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_QuickFixEngineering", "Updates", "Update",
                             {{"Name", "Name"},
                              {"Status", "Status"},
                              {"HotFixID", "HotFixID"},
                              {"Caption", "Caption"},
                              {"InstalledOn", "InstalledOn"},
                              {"ServicePackInEffect", "ServicePackInEffect"}},
                             QStringLiteral("Query for updates failed."));
}

int query_printers(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Printer", "Printers", "Printer",
                             {{"Caption", "Caption"},
                              {"Name", "Name"},
                              {"Status", "PrinterStatus"},
                              {"ShareName", "ShareName"},
                              {"PortName", "PortName"},
                              {"Network", "Network"},
                              {"Shared", "Shared"}},
                             QStringLiteral("Query for printers failed."));
}

int query_startUp_applications(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_StartupCommand", "startUpApplications",
                             "Application",
                             {{"Name", "Name"},
                              {"Description", "Description"},
                              {"Command", "Command"},
                              {"User", "User"},
                              {"Location", "Location"}},
                             QStringLiteral("Query for Start-up applications failed."));
}

int query_shares(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Share", "shares", "share",
                             {{"Name", "Name"},
                              {"Description", "Description"},
                              {"Caption", "Caption"},
                              {"Path", "Path"}},
                             QStringLiteral("Query for shares failed."));
}

int query_environment_variables(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Environment", "EnvironmentVars", "Variable",
                             {{"Name", "Name"},
                              {"SystemVariable", "SystemVariable"},
                              {"VariableValue", "VariableValue"}},
                             QStringLiteral("Query for environment variables failed."));
}

int query_uptime(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_OperatingSystem", "uptime_info", "uptime",
                             {{"LastBootUpTime", "LastBootUpTime"}},
                             QStringLiteral("Query for uptime failed."));
}

int query_WMI_software(QString &text)
{
    return runStandardMember(text, "SELECT * FROM Win32_Product", "software", "package",
                             {{"Name", "Name"},
                              {"Description", "Description"},
                              {"Version", "Version"},
                              {"ProductID", "ProductID"},
                              {"InstallDate", "InstallDate"},
                              {"InstallDate2", "InstallDate2"},
                              {"InstallLocation", "InstallLocation"}},
                             QStringLiteral("Query for installed software failed."));
}

int query_process_list(QStringList &list)
{
    WmiConnection connection;
    QString failure;
    if (!connection.open(failure))
        return 1;
    auto results = connection.query(QStringLiteral("SELECT * FROM Win32_Process"));
    if (!results)
        return 1;
    QStringList names;
    ManagementObject object;
    while (results->next(object))
        names.append(escapedText(object.get(QStringLiteral("Name"))));
    list += names;
    return 0;
}
