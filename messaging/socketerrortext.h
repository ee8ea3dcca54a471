#pragma once

#include <QAbstractSocket>
#include <QString>

// The log line both endpoints write for a socket error.
QString socketErrorText(QAbstractSocket::SocketError socketError);
