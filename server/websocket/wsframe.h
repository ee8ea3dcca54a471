#pragma once

#include "wsparsestatus.h"

#include <QByteArray>
#include <QList>

// Frame writer and readers of both framings, as pure functions over bytes.
namespace WsFrame
{

// Largest payload taken from a peer, for one frame and for one assembled message.
constexpr quint64 maxPayloadSize = 16 * 1024 * 1024;

namespace Opcode
{
constexpr quint8 Continuation = 0;
constexpr quint8 Text = 1;
constexpr quint8 Binary = 2;
constexpr quint8 Close = 8;
constexpr quint8 Ping = 9;
constexpr quint8 Pong = 10;
} // namespace Opcode

QByteArray frameHeader(bool fin, quint8 opcode, quint64 payloadLength,
                       const QByteArray &maskingKey = QByteArray());
// frameLimit 0 (or less) takes defaultFrameLimit; masked frames share one fresh key.
QList<QByteArray> splitIntoFrames(const QByteArray &data, bool binary, int frameLimit, bool masked);
QByteArray applyMask(const QByteArray &data, const QByteArray &key);
QByteArray randomMaskingKey();

struct HybiFrame {
    bool fin = false;
    quint8 opcode = 0;
    bool masked = false;
    QByteArray payload; // already unmasked
};

struct HybiParse {
    WsParseStatus status = WsParseStatus::Incomplete;
    HybiFrame frame;
    int consumed = 0;
    QString error;
};

// One RFC 6455 frame from the front of buffer; the declared length is judged before waiting.
HybiParse parseHybiFrame(const QByteArray &buffer, quint64 limit = maxPayloadSize);

enum class HixieKind {
    Text,    // 0x00, payload, 0xFF
    Skipped, // 0xFF, length, payload dropped; length 0 is the closing frame
    Unknown  // any other frame type: everything received is dropped
};

struct HixieParse {
    WsParseStatus status = WsParseStatus::Incomplete;
    HixieKind kind = HixieKind::Text;
    QByteArray payload; // text bytes of a Text frame
    int consumed = 0;
    QString error;
};

// One hixie-76 frame from the front of buffer.
HixieParse parseHixieFrame(const QByteArray &buffer, quint64 limit = maxPayloadSize);

} // namespace WsFrame
