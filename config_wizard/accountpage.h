#pragma once

#include <QWizardPage>

class QGridLayout;
class QLineEdit;

// A page that asks for one account: username, password and the password again, registered as
// mandatory wizard fields under the given prefix ("dbRoot" gives "dbRootUsername*" ...).
// Leaving it needs all three, two equal passwords and a name the database server and the
// configuration files can hold.
class AccountPage : public QWizardPage
{
    Q_OBJECT
public:
    AccountPage(const QString &heading, const QString &fieldPrefix, QWidget *parent = nullptr);

    bool validatePage() override;

protected:
    // Further checks of a page; the text of the message that keeps the user here, or empty.
    virtual QString passwordProblem(const QString &password) const;
    QGridLayout *grid() const;
    void showProblem(const QString &text);

    QLineEdit *usernameEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLineEdit *password2Edit = nullptr;

private:
    QGridLayout *form = nullptr;
};
