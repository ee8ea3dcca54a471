#include "documentguard.h"

#include <QCoreApplication>
#include <QXmlStreamReader>
#include <algorithm>

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("DocumentGuard", text);
}

DocumentGuard::Result verdict(DocumentGuard::Verdict verdict, const QString &reason = QString())
{
    DocumentGuard::Result result;
    result.verdict = verdict;
    result.reason = reason;
    return result;
}

} // namespace

QByteArray DocumentGuard::transportBytes(const QString &payload)
{
    for (const QChar c : payload) {
        if (c.unicode() > 0xff)
            return payload.toUtf8();
    }
    return payload.toLatin1();
}

DocumentGuard::Result DocumentGuard::tooLarge(qint64 size)
{
    return verdict(
        Rejected,
        tr("document of %1 bytes exceeds the limit of %2 bytes").arg(size).arg(kMaxDocumentBytes));
}

DocumentGuard::Result DocumentGuard::check(const QByteArray &document)
{
    const bool blank = std::all_of(document.cbegin(), document.cend(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    });
    if (blank)
        return verdict(Empty);
    if (document.size() > kMaxDocumentBytes)
        return tooLarge(document.size());
    // A NUL byte never belongs to UTF-8 XML; refusing it also keeps wide encodings out.
    if (document.contains('\0'))
        return verdict(Rejected, tr("document contains NUL bytes"));
    if (document.contains("<!DOCTYPE") || document.contains("<!ENTITY"))
        return verdict(Rejected, tr("document declares a DTD"));

    QXmlStreamReader reader(document);
    int depth = 0;
    int elements = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            return verdict(Rejected, tr("document declares a DTD"));
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDocumentDepth)
                return verdict(Rejected,
                               tr("document nests deeper than %1 levels").arg(kMaxDocumentDepth));
            if (++elements > kMaxDocumentElements)
                return verdict(
                    Rejected, tr("document holds more than %1 elements").arg(kMaxDocumentElements));
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return verdict(Malformed, reader.errorString());
    return verdict(Accepted);
}
