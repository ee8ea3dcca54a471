#pragma once

#include <QWizardPage>

// The last page: the wizard ends here.
class FinalPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit FinalPage(QWidget *parent = nullptr);
    int nextId() const override;
};
