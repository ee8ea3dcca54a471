#pragma once

#include <QString>

// The statements of the configuration run with the typed names and passwords quoted, so that
// every password works and no typed text can add SQL of its own; and the checks that keep a
// name usable in pg_hba.conf, Server.ini and database.yml as well.
class SetupSql
{
public:
    static QString quoteIdentifier(const QString &name);
    static QString quoteLiteral(const QString &text);

    static QString createRootRole(const QString &user, const QString &password);
    static QString createServerRole(const QString &user, const QString &password);
    static QString createManagerRole(const QString &user, const QString &password);
    static QString createDatabase(const QString &owner);
    static QString grantConnect(const QString &user);
    static QString insertAdministrator(const QString &user, const QString &password);
    // Hands what the temporary account created to the caller, then drops it.
    static QString reassignTmpUserObjects();
    static QString dropTmpUserObjects();
    static QString dropTmpUser();

    // Why a typed account name cannot be used; empty when it can.
    static QString roleNameProblem(const QString &name);
    // Why a password cannot stand in Server.ini, whose values end at the next "=" and lose
    // blanks at both ends; empty when it can.
    static QString serverIniValueProblem(const QString &password);
};
