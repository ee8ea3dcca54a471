#pragma once

#include "wsparsestatus.h"

#include <QByteArray>
#include <QString>

// The opening handshake of both families, as pure functions over the bytes a client sent.
namespace WsHandshake
{

// A request whose header block (and hixie-76 body) grows beyond this is refused.
constexpr int maxRequestSize = 16 * 1024;
// Versions below this speak the hixie-76 draft; this one and above speak RFC 6455.
constexpr int firstHybiVersion = 6;
// Bytes of body that follow the blank line of a hixie-76 request.
constexpr int hixieKey3Size = 8;

struct Request {
    int handshakeVersion = 0;
    QString resource;
    QString hostName;
    QString port; // empty when the Host header named none
    QString key;  // RFC 6455 family
    QString key1; // hixie-76 family
    QString key2;
    QString key3; // eight characters, one per body byte
    QString origin;
    QString protocol;
};

struct Parse {
    WsParseStatus status = WsParseStatus::Incomplete;
    Request request;
    int consumed = 0; // bytes of the buffer that belong to this request
    QString error;    // why a request was refused
};

// Examines the bytes received so far on a connection that is not yet upgraded.
Parse parseRequest(const QByteArray &buffer);
// The answer to an accepted request, headers and (hixie-76) digest.
QByteArray response(const Request &request);

QString hybiAcceptKey(const QString &key);
// Empty when a key holds no space: such a key cannot be divided and the request is refused.
QByteArray hixieDigest(const QString &key1, const QString &key2, const QString &key3);
QString bigEndianChars(quint32 number, int width);

} // namespace WsHandshake
