#include "postgresmanagerpage.h"

#include "configurationwizard.h"

#include <QGridLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>

PostgresManagerPage::PostgresManagerPage(QWidget *parent)
    : AccountPage(tr("<b>Configure default administrator account for Manager</b>"),
                  QStringLiteral("manager"), parent)
{
    hostEdit = new QLineEdit(QStringLiteral("127.0.0.1"), this);
    grid()->addWidget(new QLabel(tr("Manager Hostname"), this), 0, 0);
    grid()->addWidget(hostEdit, 0, 1);
    hostEdit->setObjectName(QStringLiteral("managerHost"));
    registerField(QStringLiteral("managerHost"), hostEdit);
    setTabOrder(hostEdit, usernameEdit);
}

int PostgresManagerPage::nextId() const
{
    return ConfigurationWizard::ConfigurationPageId;
}

bool PostgresManagerPage::validatePage()
{
    if (!AccountPage::validatePage())
        return false;
    // The host goes into pg_hba.conf as "<host>/32": anything but an IPv4 address there would
    // make the database server keep its old, open client authentication.
    QHostAddress host;
    if (!host.setAddress(hostEdit->text()) || host.protocol() != QAbstractSocket::IPv4Protocol) {
        showProblem(tr("The manager host \"%1\" must be an IPv4 address.").arg(hostEdit->text()));
        return false;
    }
    return true;
}
