#include "finalpage.h"

FinalPage::FinalPage(QWidget *parent) : QWizardPage(parent)
{
    setWindowTitle(tr("WizardPage"));
    resize(400, 300);
}

int FinalPage::nextId() const
{
    return -1;
}
