#pragma once

#include <QString>
#include <functional>

// What a modal message box said: the window tests read About boxes and other modal boxes
// this way, since the box runs its own event loop until it is closed.
struct ModalMessageBox {
    QString title;
    QString text;

    // Calls `open`, which shows a modal message box and returns once it is closed; the box is
    // read and closed as soon as it is up.
    static ModalMessageBox readAndClose(const std::function<void()> &open);
};
