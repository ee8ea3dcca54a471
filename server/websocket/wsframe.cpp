#include "wsframe.h"

#include <QRandomGenerator>

namespace WsFrame
{

namespace
{

// Same default as QWsSocket::defaultFrameLimit; kept here so the codec stands alone.
constexpr int defaultLimit = 1400;
constexpr quint64 largest16BitLength = 0xFFFF;
constexpr int maskingKeySize = 4;

quint8 byteAt(const QByteArray &buffer, int i)
{
    return quint8(buffer.at(i));
}

HybiParse badHybi(const QString &error)
{
    HybiParse p;
    p.status = WsParseStatus::Bad;
    p.error = error;
    return p;
}

} // namespace

QByteArray frameHeader(bool fin, quint8 opcode, quint64 payloadLength, const QByteArray &maskingKey)
{
    QByteArray header;
    header.append(char((opcode & 0x0F) | (fin ? 0x80 : 0x00)));
    const bool masked = maskingKey.size() == maskingKeySize;
    const char maskBit = masked ? char(0x80) : char(0);
    if (payloadLength <= 125) {
        header.append(char(maskBit | char(payloadLength)));
    } else if (payloadLength <= largest16BitLength) {
        header.append(char(maskBit | 126));
        header.append(char(payloadLength >> 8));
        header.append(char(payloadLength & 0xFF));
    } else {
        header.append(char(maskBit | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            header.append(char((payloadLength >> shift) & 0xFF));
    }
    if (masked)
        header.append(maskingKey);
    return header;
}

QList<QByteArray> splitIntoFrames(const QByteArray &data, bool binary, int frameLimit, bool masked)
{
    const int limit = frameLimit > 0 ? frameLimit : defaultLimit;
    const int n = data.size() / limit;
    const QByteArray key = masked ? randomMaskingKey() : QByteArray();
    QList<QByteArray> frames;
    frames.reserve(n + 1);
    for (int i = 0; i <= n; ++i) {
        const QByteArray payload = data.mid(i * limit, i < n ? limit : data.size() - n * limit);
        const quint8 opcode =
            i == 0 ? (binary ? Opcode::Binary : Opcode::Text) : Opcode::Continuation;
        frames << frameHeader(i == n, opcode, quint64(payload.size()), key) +
                      (masked ? applyMask(payload, key) : payload);
    }
    return frames;
}

QByteArray applyMask(const QByteArray &data, const QByteArray &key)
{
    if (key.size() != maskingKeySize)
        return data;
    QByteArray out = data;
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(out.at(i) ^ key.at(i % maskingKeySize));
    return out;
}

QByteArray randomMaskingKey()
{
    QByteArray key(maskingKeySize, Qt::Uninitialized);
    for (int i = 0; i < maskingKeySize; ++i)
        key[i] = char(QRandomGenerator::global()->generate() & 0xFF);
    return key;
}

HybiParse parseHybiFrame(const QByteArray &buffer, quint64 limit)
{
    const int size = buffer.size();
    if (size < 2)
        return HybiParse();
    HybiFrame frame;
    frame.fin = byteAt(buffer, 0) & 0x80;
    frame.opcode = byteAt(buffer, 0) & 0x0F;
    frame.masked = byteAt(buffer, 1) & 0x80;
    quint64 length = byteAt(buffer, 1) & 0x7F;
    int pos = 2;
    if (length == 126) {
        if (size < pos + 2)
            return HybiParse();
        length = (quint64(byteAt(buffer, 2)) << 8) | byteAt(buffer, 3);
        pos += 2;
    } else if (length == 127) {
        if (size < pos + 8)
            return HybiParse();
        length = 0;
        for (int i = 0; i < 8; ++i)
            length = (length << 8) | byteAt(buffer, pos + i);
        pos += 8;
    }
    if (length > limit)
        return badHybi(QStringLiteral("declared frame length %1 beyond %2").arg(length).arg(limit));
    QByteArray key;
    if (frame.masked) {
        if (size < pos + maskingKeySize)
            return HybiParse();
        key = buffer.mid(pos, maskingKeySize);
        pos += maskingKeySize;
    }
    if (quint64(size - pos) < length)
        return HybiParse();
    frame.payload = buffer.mid(pos, int(length));
    if (frame.masked)
        frame.payload = applyMask(frame.payload, key);

    HybiParse p;
    p.status = WsParseStatus::Ok;
    p.frame = frame;
    p.consumed = pos + int(length);
    return p;
}

HixieParse parseHixieFrame(const QByteArray &buffer, quint64 limit)
{
    HixieParse p;
    if (buffer.isEmpty())
        return p;
    const quint8 type = byteAt(buffer, 0);
    if (type == 0x00) {
        const int end = buffer.indexOf(char(0xFF), 1);
        if (end < 0) {
            if (quint64(buffer.size() - 1) > limit) {
                p.status = WsParseStatus::Bad;
                p.error = QStringLiteral("text frame longer than %1 bytes").arg(limit);
            }
            return p;
        }
        p.status = WsParseStatus::Ok;
        p.kind = HixieKind::Text;
        p.payload = buffer.mid(1, end - 1);
        p.consumed = end + 1;
        return p;
    }
    if (type == 0xFF) {
        quint64 length = 0;
        int pos = 1;
        for (;;) {
            if (pos >= buffer.size())
                return p;
            const quint8 b = byteAt(buffer, pos++);
            length = length * 128 + (b & 0x7F);
            if (length > limit) {
                p.status = WsParseStatus::Bad;
                p.error = QStringLiteral("declared frame length beyond %1").arg(limit);
                return p;
            }
            if (!(b & 0x80))
                break;
        }
        if (quint64(buffer.size() - pos) < length)
            return p;
        p.status = WsParseStatus::Ok;
        p.kind = HixieKind::Skipped;
        p.consumed = pos + int(length);
        return p;
    }
    p.status = WsParseStatus::Ok;
    p.kind = HixieKind::Unknown;
    p.consumed = buffer.size();
    return p;
}

} // namespace WsFrame
