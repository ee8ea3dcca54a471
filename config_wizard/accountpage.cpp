#include "accountpage.h"

#include "setupsql.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

AccountPage::AccountPage(const QString &heading, const QString &fieldPrefix, QWidget *parent)
    : QWizardPage(parent)
{
    setWindowTitle(tr("WizardPage"));
    resize(400, 300);
    auto *title = new QLabel(heading, this);
    title->setTextFormat(Qt::RichText);
    usernameEdit = new QLineEdit(this);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setEchoMode(QLineEdit::Password);
    password2Edit = new QLineEdit(this);
    password2Edit->setEchoMode(QLineEdit::Password);

    form = new QGridLayout;
    // Row 0 stays free for a page's own first field.
    form->addWidget(new QLabel(tr("Username"), this), 1, 0);
    form->addWidget(usernameEdit, 1, 1);
    form->addWidget(new QLabel(tr("Password"), this), 2, 0);
    form->addWidget(passwordEdit, 2, 1);
    form->addWidget(new QLabel(tr("Password Again"), this), 3, 0);
    form->addWidget(password2Edit, 3, 1);
    auto *box = new QVBoxLayout(this);
    box->addWidget(title);
    box->addLayout(form);
    box->addStretch();

    // Named after their fields, for tests and accessibility tools.
    usernameEdit->setObjectName(fieldPrefix + QStringLiteral("Username"));
    passwordEdit->setObjectName(fieldPrefix + QStringLiteral("Password"));
    password2Edit->setObjectName(fieldPrefix + QStringLiteral("Password2"));
    registerField(fieldPrefix + QStringLiteral("Username*"), usernameEdit);
    registerField(fieldPrefix + QStringLiteral("Password*"), passwordEdit);
    registerField(fieldPrefix + QStringLiteral("Password2*"), password2Edit);
}

QGridLayout *AccountPage::grid() const
{
    return form;
}

void AccountPage::showProblem(const QString &text)
{
    QMessageBox::information(this, tr("Kelvarix Server Configuration"), text);
}

QString AccountPage::passwordProblem(const QString &) const
{
    return QString();
}

bool AccountPage::validatePage()
{
    if (usernameEdit->text().isEmpty() || passwordEdit->text().isEmpty() ||
        password2Edit->text().isEmpty())
        return false;
    if (passwordEdit->text() != password2Edit->text()) {
        showProblem(tr("Given passwords do not match."));
        return false;
    }
    QString problem = SetupSql::roleNameProblem(usernameEdit->text());
    if (problem.isEmpty())
        problem = passwordProblem(passwordEdit->text());
    if (!problem.isEmpty()) {
        showProblem(problem);
        return false;
    }
    return true;
}
