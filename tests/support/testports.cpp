#include "testports.h"

#include <QHostAddress>
#include <QTcpServer>

int freeTcpPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
