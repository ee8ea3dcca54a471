#pragma once

#include "serverlayout.h"

#include <QWizard>

class ConfigurationPage;
class UninstallerPage;

// KelvarixConfig's wizard: the pages that collect what the configuration run needs, then the
// run itself; started with "/uninstall", the uninstaller page alone.
class ConfigurationWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId {
        IntroPageId = 0,
        HttpPageId = 1,
        PostgresAdminPageId = 2,
        PostgresManagerPageId = 3,
        PostgresKelvarixPageId = 4,
        ConfigurationPageId = 5,
        FinalPageId = 6,
        UninstallerPageId = 0,
    };

    explicit ConfigurationWizard(const QString &argument, QWidget *parent = nullptr);
    // The same for the machine laid out around the given directory of programs.
    ConfigurationWizard(const QString &argument, const ServerLayout &layout,
                        QWidget *parent = nullptr);

    static QString uninstallSwitch();

    // Null on the wizard of the other kind.
    ConfigurationPage *configurationPage() const;
    UninstallerPage *uninstallerPage() const;

public slots:
    void showHelp();

private:
    ConfigurationPage *configuration = nullptr;
    UninstallerPage *uninstaller = nullptr;
};
