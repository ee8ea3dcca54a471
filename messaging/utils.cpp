#include "utils.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace
{

const QString kProductName = QStringLiteral("Kelvarix");
// Extra width beyond the title text, so that window decorations never cut it.
constexpr int kTitleMargin = 100;

} // namespace

QString Utils::messageTitle(const QString &subtitle, int kind)
{
    QString word;
    switch (kind) {
    case ManagerKind:
        word = tr("Manager");
        break;
    case ServerKind:
        word = tr("Server");
        break;
    case AgentKind:
        word = tr("Agent");
        break;
    default:
        break;
    }
    QString title = QStringLiteral("%1 ").arg(kProductName) + word;
    if (!subtitle.isEmpty())
        title += QStringLiteral(" - ") + subtitle;
    return title;
}

QMessageBox *Utils::createMessageBox(const QString &text, const QString &subtitle, int kind,
                                     int icon)
{
    const QString title = messageTitle(subtitle, kind);
    auto *box = new QMessageBox();
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(title);
    box->setText(text);
    box->setIcon(QMessageBox::Icon(icon));

    // A message box sizes itself by its text only; a spacer as wide as the title keeps the
    // title from being cut off.
    const int width = QFontMetrics(box->font()).horizontalAdvance(title) + kTitleMargin;
    auto *spacer = new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(spacer, grid->rowCount(), 0, 1, grid->columnCount());
    else
        delete spacer;
    return box;
}

void Utils::showMessage(const QString &text, const QString &subtitle, int kind, int icon)
{
    QMessageBox *box = createMessageBox(text, subtitle, kind, icon);
    box->exec();
    delete box;
}
