#include "managertool.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    ManagerTool tool(out, err);
    return tool.run(app.arguments().mid(1));
}
