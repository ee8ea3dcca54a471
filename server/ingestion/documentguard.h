#pragma once

#include <QByteArray>
#include <QString>

// Limits a document must keep before the query engine sees it. The engine builds a full
// tree for every evaluation and expands entities declared in a DTD, so size, nesting and
// declarations are checked here, in one streaming pass that holds no tree.
constexpr int kMaxDocumentBytes = 16 * 1024 * 1024;
constexpr int kMaxDocumentDepth = 64;
constexpr int kMaxDocumentElements = 500000;

class DocumentGuard
{
public:
    enum Verdict {
        Accepted,
        Empty,     // nothing to read (an agent whose probe failed sends this)
        Malformed, // not well-formed XML; stores nothing, as any unreadable document
        Rejected,  // hostile or oversized; worth a line in the server log
    };

    struct Result {
        Verdict verdict = Empty;
        QString reason;
    };

    // The UTF-8 bytes a payload carries: the transport holds one character per byte.
    // A text with characters beyond Latin-1 cannot have come off the wire and is encoded.
    static QByteArray transportBytes(const QString &payload);

    static Result check(const QByteArray &document);
    // The refusal of a document of the given size above kMaxDocumentBytes.
    static Result tooLarge(qint64 size);
};
