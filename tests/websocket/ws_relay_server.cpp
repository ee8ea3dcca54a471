// Loopback listener for the real-client tests. Texts go to every connected client, binary
// messages back to their sender, "please-ping" makes the server ping and report the pong.
// Every event is printed as one line for the script that drives the client.
#include "qwsserver.h"
#include "qwssocket.h"

#include <QCoreApplication>
#include <QList>
#include <QTimer>
#include <cstdio>

namespace
{

// Safety net should the driving script die without stopping this program.
constexpr int lifetimeMs = 180000;

void say(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QWsServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        say(QStringLiteral("LISTEN-FAILED ") + server.errorString());
        return 1;
    }
    QList<QWsSocket *> clients;
    QObject::connect(&server, &QWsServer::newConnection, [&] {
        QWsSocket *ws = server.nextPendingConnection();
        if (!ws)
            return;
        clients << ws;
        say(QStringLiteral("CONNECTED %1").arg(ws->version()));
        QObject::connect(ws, qOverload<QString>(&QWsSocket::frameReceived), [&, ws](QString text) {
            say(QStringLiteral("TEXT ") + text);
            if (text == QLatin1String("please-ping")) {
                ws->ping();
                return;
            }
            for (QWsSocket *c : qAsConst(clients))
                c->sendText(text);
        });
        QObject::connect(ws, qOverload<QByteArray>(&QWsSocket::frameReceived),
                         [ws](QByteArray data) {
                             say(QStringLiteral("BINARY ") + QString::fromLatin1(data.toHex()));
                             ws->sendBinary(data);
                         });
        QObject::connect(ws, &QWsSocket::pong, [ws](quint64 elapsed) {
            say(QStringLiteral("PONG %1").arg(elapsed));
            ws->sendText(QStringLiteral("pong-received"));
        });
        QObject::connect(ws, &QAbstractSocket::disconnected, [&, ws] {
            say(QStringLiteral("DISCONNECTED"));
            clients.removeAll(ws);
            ws->deleteLater();
        });
    });
    QTimer::singleShot(lifetimeMs, &app, &QCoreApplication::quit);
    say(QStringLiteral("PORT %1").arg(server.serverPort()));
    return app.exec();
}
