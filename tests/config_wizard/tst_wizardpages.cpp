#include "configurationpage.h"
#include "configurationwizard.h"
#include "testlayout.h"
#include "uninstallerpage.h"
#include "wizarddriver.h"
#include "xvfbdisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

// The wizard's pages on a private X display, filled in and left as a user would, without
// starting the configuration run.
class TestWizardPages : public QObject
{
    Q_OBJECT
public:
    explicit TestWizardPages(XvfbDisplay *display) : display(display) {}

private slots:
    void initTestCase();
    void switchChoosesTheWizard_data();
    void switchChoosesTheWizard();
    void helpBoxIsEmpty();
    void pagesInOrderWithScreenshots();
    void accountPagesRefuse_data();
    void accountPagesRefuse();
    void webServerPageRefuses_data();
    void webServerPageRefuses();
    void leavingWebServerPageFillsHttpdConf();

private:
    // Fills the pages up to the account page with the given id.
    void fillUpTo(WizardDriver &driver, int id);
    void screenshot(const QString &name);

    XvfbDisplay *display;
    TestLayout layout;
};

void TestWizardPages::initTestCase()
{
    QVERIFY2(layout.copyTemplates(), qPrintable(layout.errorText()));
}

void TestWizardPages::screenshot(const QString &name)
{
    QCoreApplication::processEvents();
    QTest::qWait(200);
    QVERIFY(display->screenshot(XvfbDisplay::outputDir() + QStringLiteral("/config-wizard-") +
                                name + QStringLiteral(".png")));
}

void TestWizardPages::switchChoosesTheWizard_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("uninstaller");
    QTest::addRow("none") << QString() << false;
    QTest::addRow("uninstall") << "/uninstall" << true;
    // Only the exact switch: in capitals the configuration pages come.
    QTest::addRow("capitals") << "/UNINSTALL" << false;
    QTest::addRow("other") << "/help" << false;
}

void TestWizardPages::switchChoosesTheWizard()
{
    QFETCH(QString, argument);
    QFETCH(bool, uninstaller);
    ConfigurationWizard wizard(argument, ServerLayout(layout.programDir()));
    wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wizard));
    QCOMPARE(wizard.windowTitle(), QStringLiteral("Kelvarix Server - Configuration Wizard"));
    QVERIFY(!wizard.windowIcon().isNull());
    QCOMPARE(wizard.baseSize(), QSize(440, 300));
    QCOMPARE(wizard.startId(), 0);
    QCOMPARE(bool(wizard.uninstallerPage()), uninstaller);
    QCOMPARE(wizard.pageIds().size(), uninstaller ? 1 : 7);
    QCOMPARE(wizard.testOption(QWizard::HaveHelpButton), !uninstaller);
    QCOMPARE(wizard.button(QWizard::HelpButton)->isVisible(), !uninstaller);
    if (uninstaller) {
        QCOMPARE(wizard.button(QWizard::FinishButton)->text(), QStringLiteral("Execute"));
        QCOMPARE(wizard.uninstallerPage()->labelText(),
                 QStringLiteral("Press \"Execute\" to uninstall all KELVARiX services ..."));
        screenshot(QStringLiteral("uninstaller"));
    }
}

void TestWizardPages::helpBoxIsEmpty()
{
    ConfigurationWizard wizard(QString(), ServerLayout(layout.programDir()));
    wizard.show();
    WizardDriver driver(&wizard);
    driver.pressHelp();
    QTRY_COMPARE(driver.boxes().size(), 1);
    QCOMPARE(driver.boxes().first().title,
             QStringLiteral("Kelvarix Server - Configuration Wizard Help"));
    QCOMPARE(driver.boxes().first().text, QString());
}

void TestWizardPages::fillUpTo(WizardDriver &driver, int id)
{
    driver.pressNext();
    driver.type(QStringLiteral("httpAddress"), QStringLiteral("127.0.0.1"));
    driver.type(QStringLiteral("httpPort"), QStringLiteral("8080"));
    driver.pressNext();
    const struct {
        int id;
        const char *prefix;
    } accounts[] = {{ConfigurationWizard::PostgresAdminPageId, "dbRoot"},
                    {ConfigurationWizard::PostgresKelvarixPageId, "dbKelvarixServer"},
                    {ConfigurationWizard::PostgresManagerPageId, "manager"}};
    for (const auto &account : accounts) {
        QCOMPARE(driver.currentId(), account.id);
        if (account.id == id)
            return;
        const QString prefix = QLatin1String(account.prefix);
        driver.typeAccount(prefix, prefix + QStringLiteral("_user"), QStringLiteral("secret"));
        driver.pressNext();
    }
}

void TestWizardPages::pagesInOrderWithScreenshots()
{
    ConfigurationWizard wizard(QString(), ServerLayout(layout.programDir()));
    wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wizard));
    WizardDriver driver(&wizard);
    for (int id : wizard.pageIds())
        QCOMPARE(wizard.page(id)->windowTitle(), QStringLiteral("WizardPage"));
    QCOMPARE(wizard.currentPage()->title(), QStringLiteral("Introduction"));
    screenshot(QStringLiteral("0-intro"));

    driver.pressNext();
    QCOMPARE(driver.currentId(), int(ConfigurationWizard::HttpPageId));
    // Mandatory fields: Next waits for both.
    QVERIFY(!wizard.button(QWizard::NextButton)->isEnabled());
    QCOMPARE(driver.edit(QStringLiteral("httpAddress"))->maximumWidth(), 200);
    QCOMPARE(driver.edit(QStringLiteral("httpPort"))->maximumWidth(), 50);
    driver.type(QStringLiteral("httpAddress"), QStringLiteral("127.0.0.1"));
    driver.type(QStringLiteral("httpPort"), QStringLiteral("8080"));
    screenshot(QStringLiteral("1-webserver"));
    driver.pressNext();

    const struct {
        int id;
        const char *prefix;
        const char *shot;
    } accounts[] = {{ConfigurationWizard::PostgresAdminPageId, "dbRoot", "2-root"},
                    {ConfigurationWizard::PostgresKelvarixPageId, "dbKelvarixServer", "4-server"},
                    {ConfigurationWizard::PostgresManagerPageId, "manager", "3-manager"}};
    for (const auto &account : accounts) {
        QCOMPARE(driver.currentId(), account.id);
        const QString prefix = QLatin1String(account.prefix);
        QCOMPARE(driver.edit(prefix + QStringLiteral("Password"))->echoMode(), QLineEdit::Password);
        QCOMPARE(driver.edit(prefix + QStringLiteral("Password2"))->echoMode(),
                 QLineEdit::Password);
        QCOMPARE(driver.edit(prefix + QStringLiteral("Username"))->echoMode(), QLineEdit::Normal);
        driver.typeAccount(prefix, prefix + QStringLiteral("_user"), QStringLiteral("it's secret"));
        screenshot(QLatin1String(account.shot));
        driver.pressNext();
    }
    QVERIFY(driver.boxes().isEmpty());
    // Left with its default, the manager's host stays the loopback address.
    QCOMPARE(wizard.field(QStringLiteral("managerHost")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(driver.currentId(), int(ConfigurationWizard::ConfigurationPageId));
    QCOMPARE(wizard.button(QWizard::NextButton)->text(), QStringLiteral("Execute"));
    QCOMPARE(wizard.configurationPage()->labelText(),
             QStringLiteral("Press \"Execute\" to complete the configuration process"));
    QCOMPARE(wizard.configurationPage()->progressValue(), 0);
    screenshot(QStringLiteral("5-configuration"));
}

void TestWizardPages::accountPagesRefuse_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("again");
    QTest::addColumn<QString>("message");
    const int root = ConfigurationWizard::PostgresAdminPageId;
    const int server = ConfigurationWizard::PostgresKelvarixPageId;
    const int manager = ConfigurationWizard::PostgresManagerPageId;
    QTest::addRow("passwords differ") << root << "kx_root"
                                      << "one"
                                      << "two"
                                      << "Given passwords do not match.";
    QTest::addRow("passwords differ, server") << server << "kx"
                                              << "one"
                                              << "One"
                                              << "Given passwords do not match.";
    QTest::addRow("passwords differ, manager") << manager << "admin"
                                               << "one"
                                               << "one "
                                               << "Given passwords do not match.";
    QTest::addRow("blank in name") << root << "kx root"
                                   << "pw"
                                   << "pw"
                                   << "cannot be used";
    QTest::addRow("quote in name") << manager << "ad\"min"
                                   << "pw"
                                   << "pw"
                                   << "cannot be used";
    QTest::addRow("digit first") << server << "1kx"
                                 << "pw"
                                 << "pw"
                                 << "cannot be used";
    QTest::addRow("pg_ name") << root << "pg_root"
                              << "pw"
                              << "pw"
                              << "reserved";
    QTest::addRow("all") << manager << "ALL"
                         << "pw"
                         << "pw"
                         << "reserved";
    QTest::addRow("tmp_user") << root << "tmp_user"
                              << "pw"
                              << "pw"
                              << "reserved";
    QTest::addRow("too long") << server << QString(64, QLatin1Char('k')) << "pw"
                              << "pw"
                              << "too long";
    QTest::addRow("= in server password") << server << "kx"
                                          << "a=b"
                                          << "a=b"
                                          << "\"=\"";
    QTest::addRow("blank at end, server") << server << "kx"
                                          << "pw "
                                          << "pw "
                                          << "blank";
}

void TestWizardPages::accountPagesRefuse()
{
    QFETCH(int, page);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, again);
    QFETCH(QString, message);
    ConfigurationWizard wizard(QString(), ServerLayout(layout.programDir()));
    wizard.show();
    WizardDriver driver(&wizard);
    fillUpTo(driver, page);
    const QString prefix =
        page == ConfigurationWizard::PostgresAdminPageId      ? QStringLiteral("dbRoot")
        : page == ConfigurationWizard::PostgresKelvarixPageId ? QStringLiteral("dbKelvarixServer")
                                                              : QStringLiteral("manager");
    driver.typeAccount(prefix, username, password, again);
    driver.pressNext();
    QCOMPARE(driver.currentId(), page);
    QCOMPARE(driver.boxes().size(), 1);
    QCOMPARE(driver.boxes().first().title, QStringLiteral("Kelvarix Server Configuration"));
    QVERIFY2(driver.boxes().first().text.contains(message),
             qPrintable(driver.boxes().first().text));
    // Mended, the page lets the user go on.
    driver.typeAccount(prefix, QStringLiteral("kx_ok"), QStringLiteral("it's fine"));
    driver.pressNext();
    QVERIFY(driver.currentId() != page);
    QCOMPARE(driver.boxes().size(), 1);
}

void TestWizardPages::webServerPageRefuses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::addRow("blank in address") << "kelvarix server"
                                      << "80"
                                      << "host name";
    QTest::addRow("quote in address") << "a\"b"
                                      << "80"
                                      << "host name";
    QTest::addRow("IPv6") << "::1"
                          << "80"
                          << "IPv4";
    QTest::addRow("port text") << "kx.example.org"
                               << "http"
                               << "number from 1 to 65535";
    QTest::addRow("port zero") << "10.0.0.1"
                               << "0"
                               << "number from 1 to 65535";
    QTest::addRow("port too big") << "10.0.0.1"
                                  << "65536"
                                  << "number from 1 to 65535";
}

void TestWizardPages::webServerPageRefuses()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, message);
    const QString before = layout.readFile(QStringLiteral("httpd/conf/httpd.conf"));
    ConfigurationWizard wizard(QString(), ServerLayout(layout.programDir()));
    wizard.show();
    WizardDriver driver(&wizard);
    driver.pressNext();
    driver.type(QStringLiteral("httpAddress"), address);
    driver.type(QStringLiteral("httpPort"), port);
    driver.pressNext();
    QCOMPARE(driver.currentId(), int(ConfigurationWizard::HttpPageId));
    QCOMPARE(driver.boxes().size(), 1);
    QVERIFY2(driver.boxes().first().text.contains(message),
             qPrintable(driver.boxes().first().text));
    QCOMPARE(layout.readFile(QStringLiteral("httpd/conf/httpd.conf")), before);
}

void TestWizardPages::leavingWebServerPageFillsHttpdConf()
{
    const QString conf = QStringLiteral("httpd/conf/httpd.conf");
    // Earlier tests left the file filled; once its placeholders are gone it stays as it is.
    QFile original(TestLayout::templatesDir() + QLatin1Char('/') + conf);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QString templateText = QString::fromUtf8(original.readAll());
    QVERIFY(layout.writeFile(conf, templateText));
    ConfigurationWizard wizard(QString(), ServerLayout(layout.programDir()));
    wizard.show();
    WizardDriver driver(&wizard);
    driver.pressNext();
    driver.type(QStringLiteral("httpAddress"), QStringLiteral("kx.example.org"));
    driver.type(QStringLiteral("httpPort"), QStringLiteral("8443"));
    driver.pressNext();
    QCOMPARE(driver.currentId(), int(ConfigurationWizard::PostgresAdminPageId));
    const QString filled = layout.readFile(conf);
    QVERIFY(filled.contains(QStringLiteral("\nServerName kx.example.org\n")));
    QVERIFY(filled.contains(QStringLiteral("\nListen 8443\n")));
    QVERIFY(filled.contains(QStringLiteral("<VirtualHost *:8443>\n")));
    QVERIFY(filled.contains(QStringLiteral("ProxyPass / http://kx.example.org:3000/ \n")));
    const QString httpd = layout.baseDir() + QStringLiteral("/httpd");
    QVERIFY(filled.contains(QStringLiteral("ServerRoot \"%1\"\n").arg(httpd)));
    QVERIFY(filled.contains(QStringLiteral("DocumentRoot \"%1/htdocs\"\n").arg(httpd)));
    QVERIFY(filled.contains(QStringLiteral("ScriptAlias /cgi-bin/ \"%1/cgi-bin/\"\n").arg(httpd)));
    QVERIFY(!filled.contains(QStringLiteral("SERVER_")));

    // Without httpd.conf the page says so and still goes on.
    QVERIFY(QFile::remove(layout.baseDir() + QLatin1Char('/') + conf));
    driver.pressBack();
    driver.pressNext();
    QCOMPARE(driver.currentId(), int(ConfigurationWizard::PostgresAdminPageId));
    QCOMPARE(driver.boxes().size(), 1);
    QCOMPARE(driver.boxes().first().title, QStringLiteral("Configuration Wizard"));
    QCOMPARE(driver.boxes().first().text,
             QStringLiteral("Unable to open Apache configuration file"));
    QVERIFY(layout.writeFile(conf, templateText));
}

int main(int argc, char **argv)
{
    XvfbDisplay display;
    if (!display.start(false))
        return XvfbDisplay::unavailable(display.errorText());
    display.use();
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(config_wizard);
    TestWizardPages test(&display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wizardpages.moc"
