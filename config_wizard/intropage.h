#pragma once

#include <QWizardPage>

// What the wizard is for.
class IntroPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit IntroPage(QWidget *parent = nullptr);
    int nextId() const override;
};
