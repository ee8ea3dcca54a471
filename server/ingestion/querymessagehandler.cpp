#include "querymessagehandler.h"

#include "ingestionlog.h"

#include <QSourceLocation>
#include <QUrl>

QueryMessageHandler::QueryMessageHandler(QObject *parent) : QAbstractMessageHandler(parent) {}

void QueryMessageHandler::handleMessage(QtMsgType type, const QString &description,
                                        const QUrl &identifier,
                                        const QSourceLocation &sourceLocation)
{
    Q_UNUSED(sourceLocation)
    qCDebug(lcIngestion) << "query message" << type << identifier.toString() << description;
}
