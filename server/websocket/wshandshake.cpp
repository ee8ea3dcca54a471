#include "wshandshake.h"

#include <QCryptographicHash>
#include <QRegExp>
#include <QStringList>

namespace WsHandshake
{

namespace
{

const char hybiGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
const char headerEnd[] = "\r\n\r\n";

// First capture of a case-sensitive, minimal pattern searched from the start; empty when absent.
QString capture(const QString &text, const QString &pattern)
{
    QRegExp rx(pattern, Qt::CaseSensitive, QRegExp::RegExp);
    rx.setMinimal(true);
    if (rx.indexIn(text) < 0)
        return QString();
    return rx.cap(1);
}

// The value of one hixie-76 key: its digits as a number, divided by its count of spaces.
bool keyPart(const QString &key, quint32 *part)
{
    QString digits;
    int spaces = 0;
    for (const QChar c : key) {
        if (c.isDigit())
            digits += c;
        else if (c == QLatin1Char(' '))
            ++spaces;
    }
    if (spaces == 0)
        return false;
    bool ok = false;
    const quint32 number = digits.toUInt(&ok);
    *part = (ok ? number : 0) / quint32(spaces);
    return true;
}

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

// Values echoed into response headers must not carry their own line breaks.
bool hasLineBreak(const QString &value)
{
    return value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
}

Parse refuse(const QString &error, int consumed, const Request &request = Request())
{
    Parse p;
    p.request = request;
    p.status = WsParseStatus::Bad;
    p.error = error;
    p.consumed = consumed;
    return p;
}

} // namespace

Parse parseRequest(const QByteArray &buffer)
{
    const int blank = buffer.indexOf(headerEnd);
    if (blank < 0) {
        if (buffer.size() > maxRequestSize)
            return refuse(QStringLiteral("request larger than %1 bytes").arg(maxRequestSize),
                          buffer.size());
        return Parse();
    }
    const int headerSize = blank + int(sizeof(headerEnd) - 1);
    if (headerSize > maxRequestSize)
        return refuse(QStringLiteral("request larger than %1 bytes").arg(maxRequestSize),
                      headerSize);

    const QString text = latin1(buffer.left(headerSize));
    Request r;
    r.handshakeVersion =
        capture(text, QStringLiteral("Sec-WebSocket-Version:\\s(\\d+)\\r\\n")).toInt();
    r.resource = capture(text, QStringLiteral("GET\\s(.*)\\sHTTP/1.1\\r\\n"));
    const QStringList host =
        capture(text, QStringLiteral("Host:\\s(.+(:\\d+)?)\\r\\n")).split(QLatin1Char(':'));
    r.hostName = host.value(0);
    if (host.size() >= 2)
        r.port = host.at(1);

    int consumed = headerSize;
    const bool hybi = r.handshakeVersion >= firstHybiVersion;
    if (hybi) {
        r.key = capture(text, QStringLiteral("Sec-WebSocket-Key:\\s(.{24})\\r\\n"));
    } else {
        r.key1 = capture(text, QStringLiteral("Sec-WebSocket-Key1:\\s(.+)\\r\\n"));
        r.key2 = capture(text, QStringLiteral("Sec-WebSocket-Key2:\\s(.+)\\r\\n"));
    }
    if (r.handshakeVersion >= 6 && r.handshakeVersion <= 8)
        r.origin = capture(text, QStringLiteral("Sec-WebSocket-Origin:\\s(.+)\\r\\n"));
    else
        r.origin = capture(text, QStringLiteral("Origin:\\s(.+)\\r\\n"));
    r.protocol = capture(text, QStringLiteral("Sec-WebSocket-Protocol:\\s(.+)\\r\\n"));

    if (r.hostName.isEmpty())
        return refuse(QStringLiteral("no Host"), consumed, r);
    if (r.resource.isEmpty())
        return refuse(QStringLiteral("no resource"), consumed, r);
    if (hybi && r.key.isEmpty())
        return refuse(QStringLiteral("no 24-character Sec-WebSocket-Key"), consumed, r);
    if (!hybi && (r.key1.isEmpty() || r.key2.isEmpty()))
        return refuse(QStringLiteral("no Sec-WebSocket-Key1 and Sec-WebSocket-Key2"), consumed, r);
    if (hasLineBreak(r.hostName) || hasLineBreak(r.port) || hasLineBreak(r.resource) ||
        hasLineBreak(r.origin) || hasLineBreak(r.protocol))
        return refuse(QStringLiteral("line break inside a header value"), consumed, r);

    if (!hybi) {
        // The body is known to follow, so wait for it rather than judge a partial request.
        if (buffer.size() < headerSize + hixieKey3Size)
            return Parse();
        r.key3 = latin1(buffer.mid(headerSize, hixieKey3Size));
        consumed += hixieKey3Size;
        quint32 unused;
        if (!keyPart(r.key1, &unused) || !keyPart(r.key2, &unused))
            return refuse(QStringLiteral("hixie-76 key without spaces"), consumed, r);
    }

    Parse p;
    p.status = WsParseStatus::Ok;
    p.request = r;
    p.consumed = consumed;
    return p;
}

QByteArray response(const Request &r)
{
    QString text;
    if (r.handshakeVersion < firstHybiVersion) {
        QString location = QStringLiteral("ws://") + r.hostName;
        if (!r.port.isEmpty())
            location += QLatin1Char(':') + r.port;
        location += r.resource;
        text = QStringLiteral("HTTP/1.1 101 WebSocket Protocol Handshake\r\n"
                              "Upgrade: Websocket\r\n"
                              "Connection: Upgrade\r\n") %
               QStringLiteral("Sec-WebSocket-Origin: ") % r.origin % QStringLiteral("\r\n") %
               QStringLiteral("Sec-WebSocket-Location: ") % location % QStringLiteral("\r\n");
        if (!r.protocol.isEmpty())
            text +=
                QStringLiteral("Sec-WebSocket-Protocol: ") % r.protocol % QStringLiteral("\r\n");
        text += QStringLiteral("\r\n");
        return text.toLatin1() + hixieDigest(r.key1, r.key2, r.key3);
    }
    text = QStringLiteral("HTTP/1.1 101 Switching Protocols\r\n"
                          "Upgrade: websocket\r\n"
                          "Connection: Upgrade\r\n") %
           QStringLiteral("Sec-WebSocket-Accept: ") % hybiAcceptKey(r.key) %
           QStringLiteral("\r\n\r\n");
    return text.toLatin1();
}

QString hybiAcceptKey(const QString &key)
{
    const QByteArray input = (key + QLatin1String(hybiGuid)).toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(input, QCryptographicHash::Sha1).toBase64());
}

QByteArray hixieDigest(const QString &key1, const QString &key2, const QString &key3)
{
    quint32 part1 = 0;
    quint32 part2 = 0;
    if (!keyPart(key1, &part1) || !keyPart(key2, &part2))
        return QByteArray();
    const QString input = bigEndianChars(part1, 4) + bigEndianChars(part2, 4) + key3;
    return QCryptographicHash::hash(input.toLatin1(), QCryptographicHash::Md5);
}

QString bigEndianChars(quint32 number, int width)
{
    QString chars;
    while (number != 0 && chars.size() < width) {
        chars.prepend(QChar(ushort(number & 0xFF)));
        number >>= 8;
    }
    while (chars.size() < width)
        chars.prepend(QChar(ushort(0)));
    return chars;
}

} // namespace WsHandshake
