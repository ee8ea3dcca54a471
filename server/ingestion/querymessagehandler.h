#pragma once

#include <QAbstractMessageHandler>

// Keeps the query engine's messages out of standard error: a template that fails on one
// document (a repeated child, say) is an expected outcome, seen only by developers.
class QueryMessageHandler : public QAbstractMessageHandler
{
    Q_OBJECT
public:
    explicit QueryMessageHandler(QObject *parent = nullptr);

protected:
    void handleMessage(QtMsgType type, const QString &description, const QUrl &identifier,
                       const QSourceLocation &sourceLocation) override;
};
