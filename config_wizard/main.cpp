#include "configurationwizard.h"

#include <QApplication>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(config_wizard);
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    ConfigurationWizard wizard(arguments.size() == 1 ? arguments.first() : QString());
    wizard.show();
    return app.exec();
}
