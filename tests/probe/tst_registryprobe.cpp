// The software list and the agent's start-up entry: over the fixture registry, and the
// Linux store against real files in a temporary directory.
#include "invprobe.h"
#include "linuxregistry.h"
#include "startuplocations.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <unistd.h>

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
    void recordedApplicationPath();

    void linuxPackagesFromDpkgStatus();
    void linuxStartUpEntry();
    void linuxUnwritableAutostartDir();
    void startUpLocations_data();
    void startUpLocations();
    void userEntryOverridesSystemWide();
    void linuxRecordedPath();
    void startUpExportsOnXdgDirectories();
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

void TestRegistryProbe::recordedApplicationPath()
{
    useRegistry(QJsonObject{{QStringLiteral("agent"), QJsonValue::Null}});
    QCOMPARE(setAgentStartUpEnabled(), 1);
    QCOMPARE(setAgentApplicationPath(QStringLiteral("/opt/kelvarix/agent/KelvarixAgent")), 0);
    QCOMPARE(setAgentStartUpEnabled(), 0);
    QCOMPARE(isAgentStartUpEnabled(), 0);
    useRegistry(QJsonObject{{QStringLiteral("failAgentWrite"), true}});
    QCOMPARE(setAgentApplicationPath(QStringLiteral("/elsewhere")), 1);
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

void TestRegistryProbe::startUpLocations_data()
{
    QTest::addColumn<QByteArray>("configHome");
    QTest::addColumn<QByteArray>("configDirs");
    QTest::addColumn<QString>("userBase");
    QTest::addColumn<QStringList>("systemBases");
    const QString home = QDir::homePath();
    QTest::addRow("defaults") << QByteArray() << QByteArray() << home + QLatin1String("/.config")
                              << QStringList{QStringLiteral("/etc/xdg")};
    QTest::addRow("set") << QByteArray("/tmp/h") << QByteArray("/tmp/a:/tmp/b/") << "/tmp/h"
                         << QStringList{QStringLiteral("/tmp/a"), QStringLiteral("/tmp/b")};
    // Relative entries are not valid base directories and are left out.
    QTest::addRow("relative") << QByteArray("rel/home") << QByteArray("rel:/tmp/c::")
                              << home + QLatin1String("/.config")
                              << QStringList{QStringLiteral("/tmp/c")};
}

void TestRegistryProbe::startUpLocations()
{
    QFETCH(QByteArray, configHome);
    QFETCH(QByteArray, configDirs);
    QFETCH(QString, userBase);
    QFETCH(QStringList, systemBases);
    const QByteArray savedHome = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedDirs = qgetenv("XDG_CONFIG_DIRS");
    auto set = [](const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    set("XDG_CONFIG_HOME", configHome);
    set("XDG_CONFIG_DIRS", configDirs);
    const StartUpLocations user = StartUpLocations::forUser();
    const StartUpLocations system = StartUpLocations::systemWide();
    set("XDG_CONFIG_HOME", savedHome.isEmpty() ? QByteArray() : savedHome);
    set("XDG_CONFIG_DIRS", savedDirs.isEmpty() ? QByteArray() : savedDirs);

    QCOMPARE(user.autostartDir, userBase + QLatin1String("/autostart"));
    QCOMPARE(user.settingsFile, userBase + QLatin1String("/kelvarix/zvn-agent.conf"));
    QStringList inheritedEntries;
    QStringList inheritedSettings;
    for (const QString &base : systemBases) {
        inheritedEntries.append(base + QLatin1String("/autostart"));
        inheritedSettings.append(base + QLatin1String("/kelvarix/zvn-agent.conf"));
    }
    QCOMPARE(user.inheritedAutostartDirs, inheritedEntries);
    QCOMPARE(user.inheritedSettingsFiles, inheritedSettings);
    QCOMPARE(system.autostartDir, inheritedEntries.constFirst());
    QCOMPARE(system.settingsFile, inheritedSettings.constFirst());
    QVERIFY(system.inheritedAutostartDirs.isEmpty() && system.inheritedSettingsFiles.isEmpty());
}

// A user's session also starts the system-wide entry; the user's own entry of the same name
// takes its place, and turning the agent off for the user hides the system-wide one.
void TestRegistryProbe::userEntryOverridesSystemWide()
{
    QTemporaryDir root;
    StartUpLocations places;
    places.autostartDir = root.filePath(QStringLiteral("home/autostart"));
    places.settingsFile = root.filePath(QStringLiteral("home/kelvarix/zvn-agent.conf"));
    places.inheritedAutostartDirs = QStringList(root.filePath(QStringLiteral("etc/autostart")));
    LinuxRegistry user(QString(), places);
    LinuxRegistry system(QString(), places.inheritedAutostartDirs.constFirst(), QString());
    const QString ownEntry = places.autostartDir + QLatin1String("/zvn-agent.desktop");

    QCOMPARE(system.writeRunEntry(QStringLiteral("/opt/kelvarix/agent/KelvarixAgent")), 0);
    QString value;
    QVERIFY(user.readRunEntry(value));
    QCOMPARE(value, QStringLiteral("/opt/kelvarix/agent/KelvarixAgent"));

    QCOMPARE(user.deleteRunEntry(), 0);
    QVERIFY(user.readRunEntry(value));
    QVERIFY(value.isEmpty());
    QVERIFY(QFile::exists(ownEntry));
    QVERIFY(system.readRunEntry(value));
    QCOMPARE(value, QStringLiteral("/opt/kelvarix/agent/KelvarixAgent"));
    QCOMPARE(user.deleteRunEntry(), 1);

    QCOMPARE(user.writeRunEntry(QStringLiteral("/home/u/agent/KelvarixAgent")), 0);
    QVERIFY(user.readRunEntry(value));
    QCOMPARE(value, QStringLiteral("/home/u/agent/KelvarixAgent"));
    QCOMPARE(user.deleteRunEntry(), 0);
    QVERIFY(user.readRunEntry(value));
    QVERIFY(value.isEmpty());

    // Without a system-wide entry the user's own one is simply removed.
    QCOMPARE(system.deleteRunEntry(), 0);
    QCOMPARE(user.writeRunEntry(QStringLiteral("/home/u/agent/KelvarixAgent")), 0);
    QCOMPARE(user.deleteRunEntry(), 0);
    QVERIFY(!QFile::exists(ownEntry));
}

void TestRegistryProbe::linuxRecordedPath()
{
    QTemporaryDir root;
    StartUpLocations places;
    places.autostartDir = root.filePath(QStringLiteral("home/autostart"));
    places.settingsFile = root.filePath(QStringLiteral("home/kelvarix/zvn-agent.conf"));
    places.inheritedSettingsFiles =
        QStringList(root.filePath(QStringLiteral("system-zvn-agent.conf")));
    LinuxRegistry user(QString(), places);
    QString program;
    QVERIFY(!user.readApplicationPath(program));

    // The system-wide record serves until the user's own program records itself.
    writeFile(places.inheritedSettingsFiles.constFirst(),
              "ApplicationPath=/opt/kelvarix/agent/KelvarixAgent\n");
    QVERIFY(user.readApplicationPath(program));
    QCOMPARE(program, QStringLiteral("/opt/kelvarix/agent/KelvarixAgent"));

    // A path is kept whole, "=" and blanks included; a line break would split the record.
    const QString odd = QStringLiteral("/home/u/a=b c/KelvarixAgent ");
    QVERIFY(user.writeApplicationPath(odd));
    QVERIFY(user.readApplicationPath(program));
    QCOMPARE(program, odd);
    QVERIFY(!user.writeApplicationPath(QStringLiteral("/tmp/x\nApplicationPath=/tmp/evil")));
    QVERIFY(!user.writeApplicationPath(QString()));
    QVERIFY(user.readApplicationPath(program));
    QCOMPARE(program, odd);
    QCOMPARE(user.writeRunEntry(QStringLiteral("/tmp/x\nExec=/tmp/evil")), 1);
    QString value;
    QVERIFY(user.readRunEntry(value));
    QVERIFY(value.isEmpty());
}

// The exports on the running system's store, pointed at temporary XDG directories: root's
// entry is system-wide, anyone else's is the user's own.
void TestRegistryProbe::startUpExportsOnXdgDirectories()
{
    QTemporaryDir root;
    qunsetenv("INVPROBE_REGISTRY");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root.filePath(QStringLiteral("etc"))));
    const QString base =
        root.filePath(::geteuid() == 0 ? QStringLiteral("etc") : QStringLiteral("home"));
    const QString entry = base + QLatin1String("/autostart/zvn-agent.desktop");

    QCOMPARE(isAgentStartUpEnabled(), -1);
    QCOMPARE(setAgentStartUpEnabled(), 1);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(setAgentApplicationPath(QStringLiteral("/opt/kelvarix agent/KelvarixAgent")), 0);
    QVERIFY(QFile::exists(base + QLatin1String("/kelvarix/zvn-agent.conf")));
    QCOMPARE(setAgentStartUpEnabled(), 0);
    QCOMPARE(isAgentStartUpEnabled(), 0);
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY2(content.startsWith("[Desktop Entry]\nType=Application\n"), content.constData());
    QVERIFY2(content.contains("\nExec=\"/opt/kelvarix agent/KelvarixAgent\"\n"),
             content.constData());
    QCOMPARE(unsetAgentStartUpEnabled(), 0);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(isAgentStartUpEnabled(), -1);
    QCOMPARE(unsetAgentStartUpEnabled(), 1);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_DIRS");
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
