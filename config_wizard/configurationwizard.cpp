#include "configurationwizard.h"

#include "configurationpage.h"
#include "finalpage.h"
#include "httppage.h"
#include "intropage.h"
#include "postgresadminpage.h"
#include "postgreskelvarixpage.h"
#include "postgresmanagerpage.h"
#include "uninstallerpage.h"

#include <QIcon>
#include <QMessageBox>

ConfigurationWizard::ConfigurationWizard(const QString &argument, QWidget *parent)
    : ConfigurationWizard(argument, ServerLayout(), parent)
{
}

ConfigurationWizard::ConfigurationWizard(const QString &argument, const ServerLayout &layout,
                                         QWidget *parent)
    : QWizard(parent)
{
    setWindowIcon(QIcon(QStringLiteral(":/images/configuration.png")));
    setWindowTitle(tr("Kelvarix Server - Configuration Wizard"));
    setBaseSize(440, 300);

    if (argument == uninstallSwitch()) {
        uninstaller = new UninstallerPage(layout, this);
        setPage(UninstallerPageId, uninstaller);
    } else {
        configuration = new ConfigurationPage(layout);
        setPage(IntroPageId, new IntroPage);
        setPage(HttpPageId, new HttpPage(configuration));
        setPage(PostgresAdminPageId, new PostgresAdminPage);
        setPage(PostgresManagerPageId, new PostgresManagerPage);
        setPage(PostgresKelvarixPageId, new PostgresKelvarixPage);
        setPage(ConfigurationPageId, configuration);
        setPage(FinalPageId, new FinalPage);
        setOption(QWizard::HaveHelpButton, true);
    }
    setStartId(IntroPageId);
    connect(this, &QWizard::helpRequested, this, &ConfigurationWizard::showHelp);
}

QString ConfigurationWizard::uninstallSwitch()
{
    return QStringLiteral("/uninstall");
}

ConfigurationPage *ConfigurationWizard::configurationPage() const
{
    return configuration;
}

UninstallerPage *ConfigurationWizard::uninstallerPage() const
{
    return uninstaller;
}

void ConfigurationWizard::showHelp()
{
    // No page has help text of its own yet.
    QMessageBox::information(this, tr("Kelvarix Server - Configuration Wizard Help"), QString());
}
