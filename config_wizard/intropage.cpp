#include "intropage.h"

#include "configurationwizard.h"

#include <QLabel>
#include <QVBoxLayout>

IntroPage::IntroPage(QWidget *parent) : QWizardPage(parent)
{
    setWindowTitle(tr("WizardPage"));
    resize(400, 300);
    setTitle(tr("Introduction"));
    auto *text = new QLabel(
        tr("This wizard will help you configure properly <i>Kelvarix Server</i> services."), this);
    text->setWordWrap(true);
    auto *box = new QVBoxLayout(this);
    box->addWidget(text);
}

int IntroPage::nextId() const
{
    return ConfigurationWizard::HttpPageId;
}
