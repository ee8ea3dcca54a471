#include "socketerrortext.h"

#include <QCoreApplication>

QString socketErrorText(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
        return QCoreApplication::translate("ReaderWriter",
                                           "The connection was refused by the peer host.");
    case QAbstractSocket::RemoteHostClosedError:
        return QCoreApplication::translate("ReaderWriter", "The remote host closed the connection");
    case QAbstractSocket::HostNotFoundError:
        return QCoreApplication::translate("ReaderWriter", "The specified host was not found.");
    case QAbstractSocket::SocketTimeoutError:
        return QCoreApplication::translate("ReaderWriter", "The connection was timed out.");
    default:
        return QStringLiteral("Socket Error: %1").arg(int(socketError));
    }
}
