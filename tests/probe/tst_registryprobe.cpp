// The software list and the agent's start-up entry: over the fixture registry, and the
// Linux store against real files in a temporary directory.
#include "invprobe.h"
#include "linuxregistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

class TestRegistryProbe : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void softwareSection();
    void softwareList();
    void findUninstaller_data();
    void findUninstaller();
    void unreadableUninstallKey();
    void startUpEntry();
    void startUpWithoutAgentSettings();
    void startUpOpenErrors();

    void linuxPackagesFromDpkgStatus();
    void linuxStartUpEntry();
    void linuxUnwritableAutostartDir();
    void execQuoting_data();
    void execQuoting();

private:
    void useRegistry(const QJsonObject &changes = QJsonObject());
    QTemporaryDir dir;
    QString path;
};

void TestRegistryProbe::init()
{
    useRegistry();
}

void TestRegistryProbe::cleanupTestCase()
{
    qunsetenv("INVPROBE_REGISTRY");
}

void TestRegistryProbe::useRegistry(const QJsonObject &changes)
{
    QFile source(QStringLiteral(PROBE_FIXTURE_DIR "/registry.json"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(source.readAll()).object();
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        if (it.value().isUndefined() || it.value().isNull())
            root.remove(it.key());
        else
            root.insert(it.key(), it.value());
    }
    path = dir.filePath(QStringLiteral("registry.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
    file.close();
    qputenv("INVPROBE_REGISTRY", QFile::encodeName(path));
}

void TestRegistryProbe::softwareSection()
{
    QString text = QStringLiteral("kept");
    QCOMPARE(query_Registry_software(text), 0);
    QCOMPARE(text, QStringLiteral(
                       "kept<RegistrySoftware>"
                       "<package><DisplayName>AT&amp;T "
                       "Tools</DisplayName><Publisher>AT&amp;T</Publisher><Version>2.4</Version>"
                       "<InstallLocation>C:\\ATT</InstallLocation><UnistallString>MsiExec.exe "
                       "/X{ATT}</UnistallString></package>"
                       "<package><DisplayName>Viewer "
                       "2.1</DisplayName><Publisher></Publisher><Version>2.1</Version>"
                       "<InstallLocation></InstallLocation><UnistallString>C:\\Viewer\\uninst.exe</"
                       "UnistallString></package>"
                       "<package><DisplayName>OpenOffice "
                       "4.1.14</DisplayName><Publisher></Publisher><Version></Version>"
                       "<InstallLocation></InstallLocation><UnistallString>MsiExec.exe "
                       "/X{OO}</UnistallString></package>"
                       "<package><DisplayName>LibreOffice "
                       "7.6</DisplayName><Publisher></Publisher><Version>7.6.4</Version>"
                       "<InstallLocation></InstallLocation><UnistallString>MsiExec.exe "
                       "/X{LO}</UnistallString></package>"
                       "</RegistrySoftware>"));
}

void TestRegistryProbe::softwareList()
{
    QStringList list{QStringLiteral("kept")};
    QCOMPARE(query_Registry_software_list(list), 0);
    QCOMPARE(list,
             QStringList({QStringLiteral("kept"), QStringLiteral("AT&amp;T Tools--2.4"),
                          QStringLiteral("Viewer 2.1--2.1"), QStringLiteral("OpenOffice 4.1.14--"),
                          QStringLiteral("LibreOffice 7.6--7.6.4")}));
}

void TestRegistryProbe::findUninstaller_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("location");
    QTest::addRow("escaped form, case ignored") << "at&amp;t" << 0 << "MsiExec.exe /X{ATT}";
    QTest::addRow("unescaped form is not found") << "AT&T" << -1 << "";
    QTest::addRow("empty name: first entry with a display name")
        << "" << 0 << "MsiExec.exe /X{ATT}";
    QTest::addRow("contained in any case: first match") << "office" << 0 << "MsiExec.exe /X{OO}";
    QTest::addRow("whole name") << "LIBREOFFICE 7.6" << 0 << "MsiExec.exe /X{LO}";
    QTest::addRow("version alone is no display name") << "3.0" << -1 << "";
}

void TestRegistryProbe::findUninstaller()
{
    QFETCH(QString, name);
    QFETCH(int, result);
    QFETCH(QString, location);
    QString found = QStringLiteral("prefix:");
    QCOMPARE(find_uninstaller_location(name, found), result);
    QCOMPARE(found, QStringLiteral("prefix:") + location);
}

void TestRegistryProbe::unreadableUninstallKey()
{
    useRegistry(QJsonObject{{QStringLiteral("failUninstall"), true}});
    QString text = QStringLiteral("kept");
    QCOMPARE(query_Registry_software(text), 1);
    QCOMPARE(text, QStringLiteral("kept"));
    QStringList list;
    QCOMPARE(query_Registry_software_list(list), 1);
    QVERIFY(list.isEmpty());
    QString location;
    QCOMPARE(find_uninstaller_location(QString(), location), -1);
    QVERIFY(location.isEmpty());
}

void TestRegistryProbe::startUpEntry()
{
    QCOMPARE(isAgentStartUpEnabled(), -1);
    QCOMPARE(unsetAgentStartUpEnabled(), 1);
    QCOMPARE(setAgentStartUpEnabled(), 0);
    QCOMPARE(isAgentStartUpEnabled(), 0);
    // The entry holds the path as written, not in escaped form.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(
        root.value(QLatin1String("run")).toObject().value(QLatin1String("ZVN Agent")).toString(),
        QStringLiteral("C:\\Program Files\\ZVN Agent\\KelvarixAgent.exe"));
    QCOMPARE(unsetAgentStartUpEnabled(), 0);
    QCOMPARE(isAgentStartUpEnabled(), -1);
    QCOMPARE(unsetAgentStartUpEnabled(), 1);
}

void TestRegistryProbe::startUpWithoutAgentSettings()
{
    useRegistry(QJsonObject{{QStringLiteral("agent"), QJsonValue::Null}});
    QCOMPARE(setAgentStartUpEnabled(), 1);
    QCOMPARE(isAgentStartUpEnabled(), -1);
    useRegistry(QJsonObject{
        {QStringLiteral("agent"), QJsonObject{{QStringLiteral("ApplicationPath"), QString()}}}});
    QCOMPARE(setAgentStartUpEnabled(), 1);
    QCOMPARE(isAgentStartUpEnabled(), -1);
}

void TestRegistryProbe::startUpOpenErrors()
{
    useRegistry(QJsonObject{{QStringLiteral("runOpenError"), 5}});
    QCOMPARE(setAgentStartUpEnabled(), 5);
    QCOMPARE(unsetAgentStartUpEnabled(), 5);
    useRegistry(QJsonObject{{QStringLiteral("failRun"), true}});
    QCOMPARE(isAgentStartUpEnabled(), 1);
    useRegistry(QJsonObject{{QStringLiteral("failRunWrite"), true}});
    QCOMPARE(setAgentStartUpEnabled(), 1);
    QCOMPARE(isAgentStartUpEnabled(), -1);
}

static void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestRegistryProbe::linuxPackagesFromDpkgStatus()
{
    QTemporaryDir root;
    const QString status = root.filePath(QStringLiteral("status"));
    writeFile(status, "Package: at-t-tools\n"
                      "Status: install ok installed\n"
                      "Maintainer: AT&T Labs <labs@example.org>\n"
                      "Architecture: amd64\n"
                      "Version: 2.4-1\n"
                      "Description: tools\n"
                      " Package: not-a-package\n"
                      "\n"
                      "Package: removed-one\n"
                      "Status: deinstall ok config-files\n"
                      "Version: 1.0\n"
                      "\n"
                      "Package: viewer\n"
                      "Status: install ok installed\n"
                      "Version: 2.1\n");
    LinuxRegistry registry(status, root.filePath(QStringLiteral("autostart")),
                           root.filePath(QStringLiteral("agent.conf")));
    QVector<SoftwareRegistry::UninstallEntry> entries;
    QVERIFY(registry.uninstallEntries(entries));
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).values.value(QStringLiteral("DisplayName")),
             QStringLiteral("at-t-tools"));
    QCOMPARE(entries.at(0).values.value(QStringLiteral("DisplayVersion")), QStringLiteral("2.4-1"));
    QCOMPARE(entries.at(0).values.value(QStringLiteral("Publisher")),
             QStringLiteral("AT&T Labs <labs@example.org>"));
    const QString removal = entries.at(1).values.value(QStringLiteral("UninstallString"));
    QVERIFY2(removal.startsWith(QLatin1Char('/')) && removal.endsWith(QLatin1String(" viewer")),
             qPrintable(removal));

    LinuxRegistry missing(root.filePath(QStringLiteral("no-status")), QString(), QString());
    QVERIFY(!missing.uninstallEntries(entries));
}

void TestRegistryProbe::linuxStartUpEntry()
{
    QTemporaryDir root;
    const QString autostart = root.filePath(QStringLiteral("xdg/autostart"));
    const QString settings = root.filePath(QStringLiteral("zvn-agent.conf"));
    LinuxRegistry registry(QString(), autostart, settings);

    QString value = QStringLiteral("stale");
    QVERIFY(registry.readRunEntry(value));
    QVERIFY(value.isEmpty());
    QString program;
    QVERIFY(!registry.readApplicationPath(program));
    QCOMPARE(registry.deleteRunEntry(), 1);

    writeFile(settings,
              "# written by the installation\nApplicationPath=/opt/zvn agent/KelvarixAgent\n");
    QVERIFY(registry.readApplicationPath(program));
    QCOMPARE(program, QStringLiteral("/opt/zvn agent/KelvarixAgent"));
    QCOMPARE(registry.writeRunEntry(program), 0);
    QVERIFY(QFile::exists(autostart + QLatin1String("/zvn-agent.desktop")));
    QVERIFY(registry.readRunEntry(value));
    QCOMPARE(value, program);
    QCOMPARE(registry.deleteRunEntry(), 0);
    QVERIFY(registry.readRunEntry(value));
    QVERIFY(value.isEmpty());
    QCOMPARE(registry.deleteRunEntry(), 1);
}

void TestRegistryProbe::linuxUnwritableAutostartDir()
{
    // A regular file where the directory's parent should be: opening fails for root too,
    // and the system's error code comes back.
    QTemporaryDir root;
    const QString blocker = root.filePath(QStringLiteral("xdg"));
    writeFile(blocker, "not a directory");
    LinuxRegistry registry(QString(), blocker + QLatin1String("/autostart"), QString());
    QCOMPARE(registry.writeRunEntry(QStringLiteral("/bin/true")), ENOTDIR);
    QCOMPARE(registry.deleteRunEntry(), 1);
}

void TestRegistryProbe::execQuoting_data()
{
    QTest::addColumn<QString>("program");
    QTest::addRow("plain") << "/usr/bin/KelvarixAgent";
    QTest::addRow("blank") << "/opt/zvn agent/KelvarixAgent";
    QTest::addRow("percent") << "/opt/100%/agent";
    QTest::addRow("quote, dollar, backslash") << "/opt/a\"b$c\\d/agent";
}

void TestRegistryProbe::execQuoting()
{
    QFETCH(QString, program);
    QCOMPARE(LinuxRegistry::unquoteExec(LinuxRegistry::quoteExec(program)), program);
}

QTEST_GUILESS_MAIN(TestRegistryProbe)
#include "tst_registryprobe.moc"
