#include "postgresadminpage.h"

#include "configurationwizard.h"

PostgresAdminPage::PostgresAdminPage(QWidget *parent)
    : AccountPage(tr("<b>Setup database server root account </b>"), QStringLiteral("dbRoot"),
                  parent)
{
}

int PostgresAdminPage::nextId() const
{
    return ConfigurationWizard::PostgresKelvarixPageId;
}
