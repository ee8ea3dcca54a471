#include "setupfiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace
{

const QString kEntryEnd = QStringLiteral(" \n\n");

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString yamlDoubleQuoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return escaped;
}

// Part of a longer name: the web manager's templates also name environment variables such as
// KELVARIX_UPLOAD_DIR, which must stay as they are.
bool isNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

QString replacedNames(const QString &text, const QString &name, const QString &value)
{
    QString result;
    int from = 0;
    for (int at = text.indexOf(name); at >= 0; at = text.indexOf(name, from)) {
        const QChar before = at > 0 ? text.at(at - 1) : QChar();
        const QChar after = at + name.size() < text.size() ? text.at(at + name.size()) : QChar();
        result += text.midRef(from, at - from);
        result += isNameCharacter(before) || isNameCharacter(after) ? name : value;
        from = at + name.size();
    }
    return result + text.midRef(from);
}

// The placeholder stands alone on its line, below a key whose value is a block scalar
// ("password: |-").
bool inBlockScalar(const QString &text, int at)
{
    const int lineStart = text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
    if (!text.midRef(lineStart, at - lineStart).trimmed().isEmpty() || lineStart == 0)
        return false;
    const int previousStart = text.lastIndexOf(QLatin1Char('\n'), lineStart - 2) + 1;
    const QStringRef previous = text.midRef(previousStart, lineStart - 1 - previousStart).trimmed();
    static const QRegularExpression blockIndicator(QStringLiteral(":\\s*[|>][-+]?[0-9]?$"));
    return blockIndicator.match(previous).hasMatch();
}

QString erbSafe(const QString &value)
{
    QString safe = value;
    safe.replace(QLatin1String("<%"), QLatin1String("<%%"));
    return safe;
}

} // namespace

QString SetupFiles::virtualHost(const QString &port, const QString &address,
                                const QString &applicationDir, int webManagerPort)
{
    return QStringLiteral("<VirtualHost *:%1>\n").arg(port) +
           QStringLiteral("ServerName %1 \n").arg(address) +
           QStringLiteral("DocumentRoot \"%1\" \n").arg(applicationDir) +
           QStringLiteral("ProxyPass / http://%1:%2/ \n").arg(address).arg(webManagerPort) +
           QStringLiteral("ProxyPassReverse / http://%1:%2/ \n").arg(address).arg(webManagerPort) +
           QStringLiteral("ProxyPreserveHost On \n") + QStringLiteral("</VirtualHost> \n");
}

QString SetupFiles::filledHttpdConf(const QString &text, const QString &address,
                                    const QString &port, const QString &httpdDir,
                                    const QString &virtualHostBlock)
{
    QString conf = text;
    conf.replace(QLatin1String("SERVER_NAME"), address);
    conf.replace(QLatin1String("LISTEN_PORT"), port);
    conf.replace(QLatin1String("SERVER_ROOT_HTDOCS"), quoted(httpdDir + QStringLiteral("/htdocs")));
    conf.replace(QLatin1String("SCRIPT_CGI_BIN"), quoted(httpdDir + QStringLiteral("/cgi-bin/")));
    conf.replace(QLatin1String("SERVER_ROOT_CGI_BIN"),
                 quoted(httpdDir + QStringLiteral("/cgi-bin")));
    conf.replace(QLatin1String("SERVER_ROOT"), quoted(httpdDir));
    conf.replace(QLatin1String("VIRTUAL_HOST_CONFIGURATION"), virtualHostBlock);
    return conf;
}

QString SetupFiles::pgHba(const Accounts &accounts)
{
    const QStringList entries{
        QStringLiteral("host   all   ") + accounts.rootUser +
            QStringLiteral("   127.0.0.1/32   md5"),
        QStringLiteral("host   all    all    ::1/128   md5"),
        QStringLiteral("host   zvndb   ") + accounts.serverUser +
            QStringLiteral("   127.0.0.1/32   md5"),
        QStringLiteral("host   zvndb   ") + accounts.managerUser +
            QStringLiteral("   127.0.0.1/32   md5"),
        QStringLiteral("host   zvndb   ") + accounts.managerUser + QStringLiteral("   ") +
            accounts.managerHost + QStringLiteral("/32   md5"),
        // Without it the owner account could no longer reach its own cluster to check or
        // stop it through the usual tools.
        QStringLiteral("local   all   ") + accounts.ownerAccount + QStringLiteral("   peer"),
    };
    QString text;
    for (const QString &entry : entries)
        text += entry + kEntryEnd;
    return text;
}

QString SetupFiles::filledServerIni(const QString &text, const QString &user,
                                    const QString &password, int port)
{
    QString ini = text;
    ini.replace(QLatin1String("DB_USERNAME"), user);
    ini.replace(QLatin1String("DB_PASSWORD"), password);
    ini.replace(QLatin1String("DB_PORT"), QString::number(port));
    return ini;
}

QString SetupFiles::yamlFilled(const QString &text, const QString &placeholder,
                               const QString &value)
{
    QString result;
    int from = 0;
    for (;;) {
        const int at = text.indexOf(placeholder, from);
        if (at < 0)
            break;
        const QChar before = at > 0 ? text.at(at - 1) : QChar();
        const QChar after =
            at + placeholder.size() < text.size() ? text.at(at + placeholder.size()) : QChar();
        result += text.midRef(from, at - from);
        from = at + placeholder.size();
        if (isNameCharacter(before) || isNameCharacter(after)) {
            result += placeholder;
            continue;
        }
        if (inBlockScalar(text, at)) {
            // A block scalar takes its line as it stands.
            result += value;
        } else if (before == QLatin1Char('"') && after == QLatin1Char('"')) {
            result += yamlDoubleQuoted(value);
        } else if (before == QLatin1Char('\'') && after == QLatin1Char('\'')) {
            QString single = value;
            single.replace(QLatin1Char('\''), QLatin1String("''"));
            result += single;
        } else {
            // A bare placeholder becomes a double-quoted scalar: no value is read as a number,
            // a comment or another YAML form.
            result += QLatin1Char('"') + yamlDoubleQuoted(value) + QLatin1Char('"');
        }
    }
    result += text.midRef(from);
    return result;
}

QString SetupFiles::filledDatabaseYml(const QString &text, const QString &user,
                                      const QString &password)
{
    return yamlFilled(yamlFilled(text, QStringLiteral("DB_USERNAME"), erbSafe(user)),
                      QStringLiteral("DB_PASSWORD"), erbSafe(password));
}

QString SetupFiles::filledApplicationYml(const QString &text, const QString &address,
                                         const QString &uploadDir)
{
    // The upload folder in the system's own form, quoted, with backslashes doubled for YAML.
    QString upload = QLatin1Char('"') + QDir::toNativeSeparators(uploadDir) + QLatin1Char('"');
    upload.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return replacedNames(replacedNames(text, QStringLiteral("WEB_SERVER_ADDRESS"), address),
                         QStringLiteral("UPLOAD_DIR"), upload);
}

QString SetupFiles::shellQuoted(const QString &word)
{
    QString quotedWord = word;
    quotedWord.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quotedWord + QLatin1Char('\'');
}

QString SetupFiles::startRailsServer(const QString &applicationDir, const QString &startProgram,
                                     const QString &address, int webManagerPort, int postgresPort)
{
    return QStringLiteral("#!/bin/sh\n"
                          "# Starts the Kelvarix web manager detached. Written by KelvarixConfig.\n"
                          "PGPORT=%1\n"
                          "KELVARIX_DB_PORT=%1\n"
                          "export PGPORT KELVARIX_DB_PORT\n"
                          "cd %2 || exit 1\n"
                          "mkdir -p log\n"
                          "setsid %3 --port %4 --bind %5 </dev/null >>log/start-web-manager.log "
                          "2>&1 &\n")
        .arg(postgresPort)
        .arg(shellQuoted(applicationDir), shellQuoted(startProgram))
        .arg(webManagerPort)
        .arg(shellQuoted(address));
}
