#include "httppage.h"

#include "configurationpage.h"
#include "configurationwizard.h"

#include <QGridLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace
{

constexpr int kHighestPort = 65535;

} // namespace

HttpPage::HttpPage(ConfigurationPage *configurationPage, QWidget *parent)
    : QWizardPage(parent), configuration(configurationPage)
{
    setWindowTitle(tr("WizardPage"));
    resize(400, 300);
    auto *heading = new QLabel(tr("<b>Apache HTTP   Server Configuration Parameteres </b>"), this);
    addressEdit = new QLineEdit(this);
    addressEdit->setMaximumWidth(200);
    portEdit = new QLineEdit(this);
    portEdit->setMaximumWidth(50);
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Server Address"), this), 0, 0);
    grid->addWidget(addressEdit, 0, 1);
    grid->addWidget(new QLabel(tr("Server Port"), this), 3, 0);
    grid->addWidget(portEdit, 3, 1);
    // The narrow edits stay beside their labels.
    grid->setColumnStretch(2, 1);
    auto *box = new QVBoxLayout(this);
    box->addWidget(heading);
    box->addLayout(grid);
    box->addStretch();
    addressEdit->setObjectName(QStringLiteral("httpAddress"));
    portEdit->setObjectName(QStringLiteral("httpPort"));
    registerField(QStringLiteral("httpAddress*"), addressEdit);
    registerField(QStringLiteral("httpPort*"), portEdit);
}

int HttpPage::nextId() const
{
    return ConfigurationWizard::PostgresAdminPageId;
}

QString HttpPage::addressProblem(const QString &address)
{
    // Both go into directives and URLs of httpd.conf, where a blank or a quote would break it.
    static const QRegularExpression hostName(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,"
                       "61}[A-Za-z0-9])?)*$"));
    QHostAddress ip;
    if (ip.setAddress(address) && ip.protocol() == QAbstractSocket::IPv4Protocol)
        return QString();
    if (!address.contains(QLatin1Char(':')) && hostName.match(address).hasMatch())
        return QString();
    return tr("The server address \"%1\" must be a host name or an IPv4 address.").arg(address);
}

QString HttpPage::portProblem(const QString &port)
{
    bool ok = false;
    const int value = port.toInt(&ok, 10);
    if (ok && value > 0 && value <= kHighestPort && port == QString::number(value))
        return QString();
    return tr("The server port \"%1\" must be a number from 1 to %2.").arg(port).arg(kHighestPort);
}

bool HttpPage::validatePage()
{
    if (addressEdit->text().isEmpty() || portEdit->text().isEmpty())
        return false;
    QString problem = addressProblem(addressEdit->text());
    if (problem.isEmpty())
        problem = portProblem(portEdit->text());
    if (!problem.isEmpty()) {
        QMessageBox::information(this, tr("Kelvarix Server Configuration"), problem);
        return false;
    }
    configuration->configureWebServer(portEdit->text());
    return true;
}
