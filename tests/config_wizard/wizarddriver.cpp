#include "wizarddriver.h"

#include "configurationwizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWizardPage>
#include <QtTest>

namespace
{

constexpr int kPollMs = 50;

} // namespace

WizardDriver::WizardDriver(ConfigurationWizard *wizard) : wizard(wizard), poll(new QTimer(this))
{
    // Boxes are modal: the poll runs inside their own event loop and presses OK.
    connect(poll, &QTimer::timeout, this, &WizardDriver::answerBox);
    poll->start(kPollMs);
}

WizardDriver::~WizardDriver() = default;

void WizardDriver::answerBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    answered.append({box->windowTitle(), box->text()});
    QAbstractButton *ok = box->button(QMessageBox::Ok);
    if (ok)
        QTest::mouseClick(ok, Qt::LeftButton);
    else
        box->accept();
}

QLineEdit *WizardDriver::edit(const QString &field) const
{
    return wizard->findChild<QLineEdit *>(field);
}

void WizardDriver::type(const QString &field, const QString &text)
{
    QLineEdit *line = edit(field);
    QVERIFY2(line, qPrintable(field));
    line->setFocus();
    line->selectAll();
    QTest::keyClick(line, Qt::Key_Backspace);
    QTest::keyClicks(line, text);
}

void WizardDriver::typeAccount(const QString &prefix, const QString &user, const QString &password,
                               const QString &again)
{
    type(prefix + QStringLiteral("Username"), user);
    type(prefix + QStringLiteral("Password"), password);
    type(prefix + QStringLiteral("Password2"), again.isNull() ? password : again);
}

void WizardDriver::click(int which)
{
    QAbstractButton *button = wizard->button(QWizard::WizardButton(which));
    QVERIFY(button);
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(button->text()));
    QTest::mouseClick(button, Qt::LeftButton);
}

void WizardDriver::pressNext()
{
    click(QWizard::NextButton);
}

void WizardDriver::pressBack()
{
    click(QWizard::BackButton);
}

void WizardDriver::pressFinish()
{
    click(QWizard::FinishButton);
}

void WizardDriver::pressHelp()
{
    click(QWizard::HelpButton);
}

int WizardDriver::currentId() const
{
    return wizard->currentId();
}

QList<WizardDriver::Box> WizardDriver::boxes() const
{
    return answered;
}

QList<WizardDriver::Box> WizardDriver::takeBoxes()
{
    QList<Box> taken = answered;
    answered.clear();
    return taken;
}
