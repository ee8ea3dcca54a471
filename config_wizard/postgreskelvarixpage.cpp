#include "postgreskelvarixpage.h"

#include "configurationwizard.h"
#include "setupsql.h"

PostgresKelvarixPage::PostgresKelvarixPage(QWidget *parent)
    : AccountPage(tr("<html><head/><body><p><span style=\" font-weight:600;\">Configure Kelvarix "
                     "Server account at database</span></p></body></html>"),
                  QStringLiteral("dbKelvarixServer"), parent)
{
}

int PostgresKelvarixPage::nextId() const
{
    return ConfigurationWizard::PostgresManagerPageId;
}

QString PostgresKelvarixPage::passwordProblem(const QString &password) const
{
    return SetupSql::serverIniValueProblem(password);
}
