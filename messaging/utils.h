#pragma once

#include <QObject>
#include <QString>

class QMessageBox;

// Helpers shared by the server and agent windows.
class Utils : public QObject
{
    Q_OBJECT
public:
    // Component kinds, as the title names them.
    enum Kind { ManagerKind = 0, ServerKind = 1, AgentKind = 2 };

    // Shows a product-branded, window-modal message box and returns when it is closed.
    // icon is a QMessageBox::Icon number (0 = none).
    static void showMessage(const QString &text, const QString &subtitle, int kind, int icon);

    // "Kelvarix <kind word>", then " - <subtitle>" when there is one.
    static QString messageTitle(const QString &subtitle, int kind);
    // The box showMessage runs, widened so that the whole title is readable; caller owns it.
    static QMessageBox *createMessageBox(const QString &text, const QString &subtitle, int kind,
                                         int icon);
};
