#include "modalmessagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace
{

constexpr int kPollMs = 20;

} // namespace

ModalMessageBox ModalMessageBox::readAndClose(const std::function<void()> &open)
{
    ModalMessageBox read;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&read] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            read.title = box->windowTitle();
            read.text = box->text();
            box->close();
        }
    });
    closer.start(kPollMs);
    open();
    return read;
}
