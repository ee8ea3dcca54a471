#pragma once

#include <QWizardPage>

class ConfigurationPage;
class QLineEdit;

// The web server's address and port; leaving the page writes them into httpd.conf.
class HttpPage : public QWizardPage
{
    Q_OBJECT
public:
    HttpPage(ConfigurationPage *configurationPage, QWidget *parent = nullptr);

    bool validatePage() override;
    int nextId() const override;

    // Why a typed address or port cannot go into httpd.conf; empty when they can.
    static QString addressProblem(const QString &address);
    static QString portProblem(const QString &port);

private:
    ConfigurationPage *configuration;
    QLineEdit *addressEdit = nullptr;
    QLineEdit *portEdit = nullptr;
};
