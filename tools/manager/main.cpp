#include "managertool.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The tool states every failure in its own words; the server library's developer
    // diagnostics would repeat them (QT_LOGGING_RULES still turns them back on).
    QLoggingCategory::setFilterRules(QStringLiteral("kelvarix.server.warning=false"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    ManagerTool tool(out, err);
    return tool.run(app.arguments().mid(1));
}
