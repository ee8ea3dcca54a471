#include "setupsql.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace
{

// PostgreSQL keeps 63 bytes of a name; longer ones would be cut silently.
constexpr int kMaxNameLength = 63;
const char *const kReservedNames[] = {
    // pg_hba.conf keywords: "all" there would admit every account.
    "all", "sameuser", "samerole", "samegroup", "replication",
    // Accounts and groups the run creates or relies on itself.
    "tmp_user", "zvn", "public", "none", "current_user", "session_user", "current_role"};

QString tr(const char *text)
{
    return QCoreApplication::translate("SetupSql", text);
}

} // namespace

QString SetupSql::quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString SetupSql::quoteLiteral(const QString &text)
{
    // Standard-conforming strings (the default): only the apostrophe needs doubling.
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString SetupSql::createRootRole(const QString &user, const QString &password)
{
    return QStringLiteral("CREATE ROLE %1 LOGIN SUPERUSER INHERIT CREATEDB CREATEROLE PASSWORD %2")
        .arg(quoteIdentifier(user), quoteLiteral(password));
}

QString SetupSql::createServerRole(const QString &user, const QString &password)
{
    return QStringLiteral("CREATE ROLE %1 WITH PASSWORD %2 LOGIN IN GROUP zvn")
        .arg(quoteIdentifier(user), quoteLiteral(password));
}

QString SetupSql::createManagerRole(const QString &user, const QString &password)
{
    // CREATEUSER is gone from PostgreSQL; CREATEROLE is what its name promised.
    return QStringLiteral("CREATE ROLE %1 WITH PASSWORD %2 LOGIN CREATEROLE IN GROUP zvn")
        .arg(quoteIdentifier(user), quoteLiteral(password));
}

QString SetupSql::createDatabase(const QString &owner)
{
    return QStringLiteral("CREATE DATABASE zvndb WITH OWNER = %1").arg(quoteIdentifier(owner));
}

QString SetupSql::grantConnect(const QString &user)
{
    return QStringLiteral("GRANT CONNECT ON DATABASE zvndb TO %1").arg(quoteIdentifier(user));
}

QString SetupSql::insertAdministrator(const QString &user, const QString &password)
{
    return QStringLiteral("INSERT INTO users(username,passwd,full_name,user_level) "
                          "VALUES(%1,MD5(%2),'Default Admin','1')")
        .arg(quoteLiteral(user), quoteLiteral(password));
}

QString SetupSql::reassignTmpUserObjects()
{
    return QStringLiteral("REASSIGN OWNED BY tmp_user TO CURRENT_USER");
}

QString SetupSql::dropTmpUserObjects()
{
    return QStringLiteral("DROP OWNED BY tmp_user");
}

QString SetupSql::dropTmpUser()
{
    return QStringLiteral("DROP USER IF EXISTS tmp_user");
}

QString SetupSql::roleNameProblem(const QString &name)
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!valid.match(name).hasMatch())
        return tr("The username \"%1\" cannot be used: it must begin with a letter or an "
                  "underscore and hold only letters, digits and underscores.")
            .arg(name);
    if (name.size() > kMaxNameLength)
        return tr("The username \"%1\" is too long: at most %2 characters.")
            .arg(name)
            .arg(kMaxNameLength);
    if (name.startsWith(QLatin1String("pg_"), Qt::CaseInsensitive))
        return tr("The username \"%1\" cannot be used: names beginning with \"pg_\" are "
                  "reserved by the database server.")
            .arg(name);
    for (const char *reserved : kReservedNames) {
        if (name.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0)
            return tr("The username \"%1\" is reserved.").arg(name);
    }
    return QString();
}

QString SetupSql::serverIniValueProblem(const QString &password)
{
    if (password.contains(QLatin1Char('=')))
        return tr("The password of the server's account cannot contain \"=\": Server.ini "
                  "would keep only the part before it.");
    if (password != password.trimmed())
        return tr("The password of the server's account cannot begin or end with a blank: "
                  "Server.ini would drop it.");
    return QString();
}
