#include "inventorydocument.h"
#include "jobrunner.h"
#include "uninstallcommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

// The decisions behind the agent's jobs: text parts, names from the server, the removal
// command, and which probes an inventory's flags run (over the fixture backend).
class TestJobHelpers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void textParts_data();
    void textParts();
    void plainFileName_data();
    void plainFileName();
    void uninstallFromLocation_data();
    void uninstallFromLocation();
    void uninstallFromName();
    void inventorySections_data();
    void inventorySections();
    void inventoryProbeFailure_data();
    void inventoryProbeFailure();

private:
    QString writeJson(const QString &name, const QJsonObject &object);

    QTemporaryDir dir;
    QJsonObject machine;
};

void TestJobHelpers::initTestCase()
{
    QFile fixture(QStringLiteral(AGENT_FIXTURE_DIR "/inventory.json"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    machine = QJsonDocument::fromJson(fixture.readAll()).object();
    QVERIFY(!machine.isEmpty());
    qputenv("INVPROBE_FIXTURE", writeJson(QStringLiteral("machine.json"), machine).toLocal8Bit());
    const QJsonObject registry = QJsonDocument::fromJson(R"({"uninstall": [
        {"key": "a", "DisplayName": "Editor", "DisplayVersion": "1.2"}], "run": {}})")
                                     .object();
    qputenv("INVPROBE_REGISTRY",
            writeJson(QStringLiteral("registry.json"), registry).toLocal8Bit());
}

QString TestJobHelpers::writeJson(const QString &name, const QJsonObject &object)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(object).toJson()) < 0)
        return QString();
    return path;
}

void TestJobHelpers::textParts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("parts");
    QTest::addRow("deployment without switches")
        << "a.zip<SPLITAG>setup.exe<SPLITAG>" << 3 << QStringList{"a.zip", "setup.exe", ""};
    QTest::addRow("deployment with switches") << "a.zip<SPLITAG>setup.exe<SPLITAG>/S /D" << 3
                                              << QStringList{"a.zip", "setup.exe", "/S /D"};
    QTest::addRow("cut before the second separator")
        << "a.zip<SPLITAG>setup.exe" << 3 << QStringList{"a.zip", "setup.exe", ""};
    QTest::addRow("cut before any separator") << "a.zi" << 3 << QStringList{"a.zi", "", ""};
    QTest::addRow("empty text") << "" << 2 << QStringList{"", ""};
    QTest::addRow("removal with extra") << "Editor<SPLITAG>-y" << 2 << QStringList{"Editor", "-y"};
    QTest::addRow("more parts than read") << "a<SPLITAG>b<SPLITAG>c" << 2 << QStringList{"a", "b"};
}

void TestJobHelpers::textParts()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QStringList, parts);
    QCOMPARE(JobRunner::textParts(text, count), parts);
}

void TestJobHelpers::plainFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::addRow("package") << "setup.zip" << true;
    QTest::addRow("blanks") << "my setup.exe" << true;
    QTest::addRow("dots inside a name") << "a.b.c.msi" << true;
    QTest::addRow("parent") << ".." << false;
    QTest::addRow("parent prefix") << "..evil" << false;
    QTest::addRow("absolute") << "/etc/passwd" << false;
    QTest::addRow("subdirectory") << "bin/setup" << false;
    QTest::addRow("climbing") << "../../x.sh" << false;
    QTest::addRow("empty") << "" << false;
}

void TestJobHelpers::plainFileName()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(JobRunner::isPlainFileName(name), plain);
}

void TestJobHelpers::uninstallFromLocation_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("parameters");
    QTest::addRow("installer product code") << "MsiExec.exe /I{1A2B-3C}"
                                            << "/quiet"
                                            << "MsiExec.exe"
                                            << "/x{1A2B-3C} /quiet";
    QTest::addRow("installer remove stays") << "MsiExec.exe /X{1A2B}"
                                            << ""
                                            << "MsiExec.exe"
                                            << "/X{1A2B} ";
    QTest::addRow("installer /I not first") << "MsiExec.exe /q /I{1A2B}"
                                            << ""
                                            << "MsiExec.exe"
                                            << "/q /I{1A2B} ";
    QTest::addRow("directory with blanks") << "\"C:\\Program Files\\My App\\uninst.exe\" /S"
                                           << "/norestart"
                                           << "C:/Program Files/My App/uninst.exe"
                                           << "/S /norestart";
    QTest::addRow("runs of blanks joined by one") << "C:\\Program   Files\\My App\\uninst.exe"
                                                  << ""
                                                  << "C:/Program Files/My App/uninst.exe"
                                                  << "";
    QTest::addRow("package removal command") << "/usr/bin/apt-get remove -y editor"
                                             << ""
                                             << "/usr/bin/apt-get"
                                             << "remove -y editor ";
    QTest::addRow("no such file") << "C:\\gone\\x.exe /S"
                                  << "-q"
                                  << "C:/gone/x.exe /S "
                                  << "-q";
}

void TestJobHelpers::uninstallFromLocation()
{
    QFETCH(QString, location);
    QFETCH(QString, extra);
    QFETCH(QString, program);
    QFETCH(QString, parameters);
    const QStringList files{QStringLiteral("C:/Program Files/My App/uninst.exe"),
                            QStringLiteral("/usr/bin/apt-get")};
    // A directory on the way is not the program.
    const auto isFile = [&](const QString &path) { return files.contains(path); };
    const UninstallCommand c = UninstallCommand::fromLocation(location, extra, isFile);
    QCOMPARE(c.program, program);
    QCOMPARE(c.parameters, parameters);
}

void TestJobHelpers::uninstallFromName()
{
    const UninstallCommand c = UninstallCommand::fromName(
        QStringLiteral("\"C:\\Tools\\remove.exe\""), QStringLiteral("/S"));
    QCOMPARE(c.program, QStringLiteral("C:/Tools/remove.exe"));
    QCOMPARE(c.line(), QStringLiteral("C:/Tools/remove.exe /S"));
}

static const QStringList kSectionTags{"<hardware>",
                                      "<Printers>",
                                      "<NetworkAdapters>",
                                      "<Monitor_Disk>",
                                      "<RegistrySoftware>",
                                      "<process>",
                                      "<Monitor_CPU>",
                                      "<Monitor_Memory>",
                                      "<Monitor_OS_Objects>",
                                      "<Monitor_Network>",
                                      "<Batteries>",
                                      "<services>",
                                      "<startUpApplications>",
                                      "<EnvironmentVars>",
                                      "<Updates>",
                                      "<users>",
                                      "<shares>"};

void TestJobHelpers::inventorySections_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QStringList>("sections");
    const QStringList hardware{"<hardware>", "<Printers>", "<NetworkAdapters>", "<Monitor_Disk>"};
    const QStringList monitoring{"<Monitor_CPU>",  "<Monitor_Memory>",  "<Monitor_OS_Objects>",
                                 "<Monitor_Disk>", "<Monitor_Network>", "<Batteries>"};
    QStringList monitoringAfterHardware = monitoring;
    monitoringAfterHardware.removeAll("<Monitor_Disk>");
    QTest::addRow("hardware only") << "1000" << hardware;
    QTest::addRow("monitoring only") << "0001" << monitoring;
    QTest::addRow("hardware and monitoring") << "1001" << (hardware + monitoringAfterHardware);
    QTest::addRow("five flags run no shares")
        << "11111"
        << (hardware + QStringList{"<RegistrySoftware>", "<process>"} + monitoringAfterHardware +
            QStringList{"<users>"});
    QTest::addRow("all, users after updates")
        << "1111111111"
        << (hardware + QStringList{"<RegistrySoftware>", "<process>"} + monitoringAfterHardware +
            QStringList{"<services>", "<startUpApplications>", "<EnvironmentVars>", "<Updates>",
                        "<users>", "<shares>"});
    QTest::addRow("only the last") << "0000000001" << QStringList{"<shares>"};
    QTest::addRow("other characters are not 1") << "x0a2" << QStringList();
    QTest::addRow("empty flags") << "" << QStringList();
}

void TestJobHelpers::inventorySections()
{
    QFETCH(QString, flags);
    QFETCH(QStringList, sections);
    const QString document = inventoryDocument(flags);
    QVERIFY(document.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><document>"));
    QVERIFY(document.endsWith("</document>"));
    // Each section once, in its order; the disk figures at most once.
    int from = 0;
    for (const QString &tag : sections) {
        const int at = document.indexOf(tag, from);
        QVERIFY2(at >= 0, qPrintable(tag + " missing or out of order"));
        from = at + tag.size();
    }
    for (const QString &tag : kSectionTags)
        QCOMPARE(document.count(tag), sections.contains(tag) ? 1 : 0);
}

void TestJobHelpers::inventoryProbeFailure_data()
{
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("failingClass");
    QTest::addRow("printers in the hardware section") << "1"
                                                      << "Win32_Printer";
    QTest::addRow("battery in the monitoring group") << "0001"
                                                     << "Win32_Battery";
    QTest::addRow("shares, last of all") << "1111111111"
                                         << "Win32_Share";
}

// One failing probe discards the whole document.
void TestJobHelpers::inventoryProbeFailure()
{
    QFETCH(QString, flags);
    QFETCH(QString, failingClass);
    QJsonObject broken = machine;
    broken.insert(QStringLiteral("failQueries"), QJsonArray{failingClass});
    const QByteArray before = qgetenv("INVPROBE_FIXTURE");
    qputenv("INVPROBE_FIXTURE", writeJson(QStringLiteral("broken.json"), broken).toLocal8Bit());
    const QString document = inventoryDocument(flags);
    qputenv("INVPROBE_FIXTURE", before);
    QCOMPARE(document, QString());
    QVERIFY(!inventoryDocument(flags).isEmpty());
}

QTEST_GUILESS_MAIN(TestJobHelpers)
#include "tst_jobhelpers.moc"
