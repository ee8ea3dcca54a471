#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class ConfigurationWizard;
class QLineEdit;
class QTimer;

// Drives the set-up wizard as its user would: types into the fields, presses the wizard's
// buttons, and answers every message box with OK, remembering its title and text.
class WizardDriver : public QObject
{
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
    };

    explicit WizardDriver(ConfigurationWizard *wizard);
    ~WizardDriver() override;

    // The line edit registered as this wizard field (name without "*").
    QLineEdit *edit(const QString &field) const;
    // Replaces the field's text by typing.
    void type(const QString &field, const QString &text);
    // An account page's three fields: prefix + "Username", "Password", "Password2".
    void typeAccount(const QString &prefix, const QString &user, const QString &password,
                     const QString &again = QString());
    void pressNext();
    void pressBack();
    void pressFinish();
    void pressHelp();
    int currentId() const;

    // Message boxes answered so far (oldest first); takeBoxes() also forgets them.
    QList<Box> boxes() const;
    QList<Box> takeBoxes();

private:
    void answerBox();
    void click(int which);

    ConfigurationWizard *wizard;
    QTimer *poll;
    QList<Box> answered;
};
