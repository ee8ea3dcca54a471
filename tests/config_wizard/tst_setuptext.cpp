#include "serversettings.h"
#include "setupfiles.h"
#include "setupsql.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The texts of the configuration run: statements, client authentication, filled templates and
// the web manager's start script.
class TestSetupText : public QObject
{
    Q_OBJECT
private slots:
    void statementsQuoteTypedValues_data();
    void statementsQuoteTypedValues();
    void pgHbaEntries();
    void serverIniKeepsEveryAcceptedPassword_data();
    void serverIniKeepsEveryAcceptedPassword();
    void yamlValues_data();
    void yamlValues();
    void httpdConfPlaceholders();
    void startScriptRunsTheWebManager();
};

void TestSetupText::statementsQuoteTypedValues_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected");
    QTest::addRow("root") << SetupSql::createRootRole(QStringLiteral("Root"),
                                                      QStringLiteral("it's"))
                          << "CREATE ROLE \"Root\" LOGIN SUPERUSER INHERIT CREATEDB CREATEROLE "
                             "PASSWORD 'it''s'";
    QTest::addRow("crafted password")
        << SetupSql::createServerRole(QStringLiteral("kx"),
                                      QStringLiteral("x' SUPERUSER; DROP ROLE postgres; --"))
        << "CREATE ROLE \"kx\" WITH PASSWORD 'x'' SUPERUSER; DROP ROLE postgres; --' LOGIN IN "
           "GROUP zvn";
    QTest::addRow("backslash kept")
        << SetupSql::createManagerRole(QStringLiteral("adm"), QStringLiteral("a\\b"))
        << "CREATE ROLE \"adm\" WITH PASSWORD 'a\\b' LOGIN CREATEROLE "
           "IN GROUP zvn";
    QTest::addRow("administrator row")
        << SetupSql::insertAdministrator(QStringLiteral("adm"), QStringLiteral("p'w"))
        << "INSERT INTO users(username,passwd,full_name,user_level) "
           "VALUES('adm',MD5('p''w'),'Default Admin','1')";
    QTest::addRow("quote in identifier") << SetupSql::grantConnect(QStringLiteral("a\"b"))
                                         << "GRANT CONNECT ON DATABASE zvndb TO \"a\"\"b\"";
    QTest::addRow("database") << SetupSql::createDatabase(QStringLiteral("kx"))
                              << "CREATE DATABASE zvndb WITH OWNER = \"kx\"";
}

void TestSetupText::statementsQuoteTypedValues()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    QCOMPARE(statement, expected);
}

void TestSetupText::pgHbaEntries()
{
    SetupFiles::Accounts accounts;
    accounts.rootUser = QStringLiteral("kx_root");
    accounts.serverUser = QStringLiteral("kx");
    accounts.managerUser = QStringLiteral("admin");
    accounts.managerHost = QStringLiteral("127.0.0.1");
    accounts.ownerAccount = QStringLiteral("postgres");
    // With the default manager host the fourth and fifth entries are the same.
    QCOMPARE(SetupFiles::pgHba(accounts),
             QStringLiteral("host   all   kx_root   127.0.0.1/32   md5 \n\n"
                            "host   all    all    ::1/128   md5 \n\n"
                            "host   zvndb   kx   127.0.0.1/32   md5 \n\n"
                            "host   zvndb   admin   127.0.0.1/32   md5 \n\n"
                            "host   zvndb   admin   127.0.0.1/32   md5 \n\n"
                            "local   all   postgres   peer \n\n"));
}

void TestSetupText::serverIniKeepsEveryAcceptedPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addRow("apostrophe") << "it's";
    QTest::addRow("inner blanks") << "a b  c";
    QTest::addRow("quotes and hash") << "\"#;[x]";
    QTest::addRow("backslash") << "C:\\pw";
    QTest::addRow("not Latin-1") << QString::fromUtf8("pässwörd€");
}

void TestSetupText::serverIniKeepsEveryAcceptedPassword()
{
    QFETCH(QString, password);
    // The installed template, filled, then read the way the server reads it.
    QFile templateFile(QStringLiteral(KELVARIX_LAYOUT_DIR "/kelvarix/Server.ini"));
    QVERIFY(templateFile.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString filled = SetupFiles::filledServerIni(QString::fromUtf8(templateFile.readAll()),
                                                       QStringLiteral("kx"), password, 55432);
    QVERIFY(SetupSql::serverIniValueProblem(password).isEmpty());
    QByteArray bytes = filled.toUtf8();
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly | QIODevice::Text));
    ServerSettings settings;
    settings.applyAll(buffer);
    QCOMPARE(settings.dbPassword, password);
    QCOMPARE(settings.dbUsername, QStringLiteral("kx"));
    QCOMPARE(settings.dbPort, 55432);
    QCOMPARE(settings.dbName, QStringLiteral("zvndb"));
    QCOMPARE(settings.dbType, QStringLiteral("QPSQL"));
    QCOMPARE(settings.dbServer, QStringLiteral("127.0.0.1"));
}

void TestSetupText::yamlValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::addRow("double quoted") << "password: \"DB_PASSWORD\"\n"
                                   << "a\"b\\c"
                                   << "password: \"a\\\"b\\\\c\"\n";
    QTest::addRow("single quoted") << "password: 'DB_PASSWORD'\n"
                                   << "it's"
                                   << "password: 'it''s'\n";
    QTest::addRow("bare") << "password: DB_PASSWORD\n"
                          << "#not: a comment"
                          << "password: \"#not: a comment\"\n";
    QTest::addRow("bare number") << "password: DB_PASSWORD\n"
                                 << "0123"
                                 << "password: \"0123\"\n";
    QTest::addRow("block scalar") << "password: |-\n    DB_PASSWORD\n"
                                  << "it's \"#x\\"
                                  << "password: |-\n    it's \"#x\\\n";
    QTest::addRow("inside a longer name") << "p: <%= ENV[\"KX_DB_PASSWORD\"] %>\n"
                                          << "x"
                                          << "p: <%= ENV[\"KX_DB_PASSWORD\"] %>\n";
    QTest::addRow("twice") << "a: DB_PASSWORD\nb: \"DB_PASSWORD\"\n"
                           << "x"
                           << "a: \"x\"\nb: \"x\"\n";
}

void TestSetupText::yamlValues()
{
    QFETCH(QString, text);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(SetupFiles::yamlFilled(text, QStringLiteral("DB_PASSWORD"), value), expected);
    // database.yml is ERB first: an opening tag in a value stays text.
    QCOMPARE(
        SetupFiles::filledDatabaseYml(QStringLiteral("u: \"DB_USERNAME\"\np: \"DB_PASSWORD\"\n"),
                                      QStringLiteral("kx"), QStringLiteral("<%= `id` %>")),
        QStringLiteral("u: \"kx\"\np: \"<%%= `id` %>\"\n"));
}

void TestSetupText::httpdConfPlaceholders()
{
    const QString text = QStringLiteral("SERVER_ROOT|SERVER_ROOT_HTDOCS|SCRIPT_CGI_BIN|"
                                        "SERVER_ROOT_CGI_BIN|SERVER_NAME|LISTEN_PORT|"
                                        "VIRTUAL_HOST_CONFIGURATION");
    const QString block = SetupFiles::virtualHost(QStringLiteral("8080"), QStringLiteral("kx.lan"),
                                                  QStringLiteral("/b/application"), 3001);
    QCOMPARE(block, QStringLiteral("<VirtualHost *:8080>\n"
                                   "ServerName kx.lan \n"
                                   "DocumentRoot \"/b/application\" \n"
                                   "ProxyPass / http://kx.lan:3001/ \n"
                                   "ProxyPassReverse / http://kx.lan:3001/ \n"
                                   "ProxyPreserveHost On \n"
                                   "</VirtualHost> \n"));
    QCOMPARE(SetupFiles::filledHttpdConf(text, QStringLiteral("kx.lan"), QStringLiteral("8080"),
                                         QStringLiteral("/b/httpd"), QStringLiteral("VH")),
             QStringLiteral("\"/b/httpd\"|\"/b/httpd/htdocs\"|\"/b/httpd/cgi-bin/\"|"
                            "\"/b/httpd/cgi-bin\"|kx.lan|8080|VH"));
    // Environment variables that contain a placeholder's name stay as they are.
    QCOMPARE(SetupFiles::filledApplicationYml(
                 QStringLiteral("a: <%= ENV[\"KX_WEB_SERVER_ADDRESS\"] %>\n"
                                "u: <%= ENV[\"KX_UPLOAD_DIR\"] %>\n"
                                "address: WEB_SERVER_ADDRESS\nupload: UPLOAD_DIR\n"),
                 QStringLiteral("kx.lan"), QStringLiteral("/b/kelvarix/upload")),
             QStringLiteral("a: <%= ENV[\"KX_WEB_SERVER_ADDRESS\"] %>\n"
                            "u: <%= ENV[\"KX_UPLOAD_DIR\"] %>\n"
                            "address: kx.lan\nupload: \"/b/kelvarix/upload\"\n"));
}

void TestSetupText::startScriptRunsTheWebManager()
{
    // Paths with a blank and an apostrophe, as a base directory may have them.
    QTemporaryDir dir;
    const QString app = dir.filePath(QStringLiteral("it's app"));
    QVERIFY(QDir().mkpath(app + QStringLiteral("/bin")));
    const QString program = app + QStringLiteral("/bin/start web manager");
    const QString record = dir.filePath(QStringLiteral("record"));
    QFile fake(program);
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\n{ pwd; echo \"$PGPORT\"; for a in \"$@\"; do echo \"$a\"; done; } > \"" +
               QFile::encodeName(record) + ".tmp\"\nmv \"" + QFile::encodeName(record) +
               ".tmp\" \"" + QFile::encodeName(record) + "\"\n");
    fake.close();
    fake.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const QString script =
        SetupFiles::startRailsServer(app, program, QStringLiteral("127.0.0.1"), 3005, 55432);
    QProcess sh;
    sh.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    // The script returns at once; the web manager goes on detached.
    QVERIFY(sh.waitForFinished(10000));
    QCOMPARE(sh.exitCode(), 0);
    QTRY_VERIFY(QFile::exists(record));
    QFile result(record);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(
        QString::fromUtf8(result.readAll()).split(QLatin1Char('\n')),
        QStringList({app, QStringLiteral("55432"), QStringLiteral("--port"), QStringLiteral("3005"),
                     QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QString()}));
}

QTEST_GUILESS_MAIN(TestSetupText)
#include "tst_setuptext.moc"
