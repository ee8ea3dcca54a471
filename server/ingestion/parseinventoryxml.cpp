#include "parseinventoryxml.h"

#include "alarmstore.h"
#include "datetimetext.h"
#include "documentguard.h"
#include "ingestionlog.h"
#include "inventorystore.h"
#include "inventorytemplates.h"
#include "querymessagehandler.h"

#include <QBuffer>
#include <QXmlQuery>
#include <QXmlSerializer>

namespace
{

const QString kDeclaration = QStringLiteral("declare variable $data external;\n");

// Runs one query with $data bound to the document; false when the evaluation fails.
bool runQuery(const QByteArray &document, const QString &query, QString *output)
{
    QBuffer input;
    input.setData(document);
    input.open(QIODevice::ReadOnly);
    QueryMessageHandler handler;
    QXmlQuery xmlQuery;
    xmlQuery.setMessageHandler(&handler);
    xmlQuery.bindVariable(QStringLiteral("data"), &input);
    xmlQuery.setQuery(kDeclaration + query);
    QBuffer result;
    result.open(QIODevice::ReadWrite);
    QXmlSerializer serializer(xmlQuery, &result);
    const bool ok = xmlQuery.isValid() && xmlQuery.evaluateTo(&serializer);
    *output = QString::fromUtf8(result.data().constData(), result.data().size());
    return ok;
}

// The template with its rows in document order. A path whose last step constructs elements
// returns them in an order of the engine's choosing (new nodes have no document order), so
// the path's own elements are walked with "for" and each row is built from one of them.
QString orderedTemplate(const QString &queryTemplate)
{
    const int rowStep = queryTemplate.indexOf(QLatin1String("/<sql>"));
    if (rowStep < 0)
        return queryTemplate;
    return QStringLiteral("for $kxRow in ") + queryTemplate.left(rowStep) +
           QStringLiteral(" return $kxRow") + queryTemplate.mid(rowStep);
}

// The template with every value wrapped in an element of its own, so that value boundaries
// stay unambiguous whatever a value holds: the serializer escapes every "<" of a text.
QString markedTemplate(const QString &queryTemplate)
{
    QString marked = orderedTemplate(queryTemplate);
    marked.replace(QLatin1String("'{"), QLatin1String("'<v>{"));
    marked.replace(QLatin1String("}'"), QLatin1String("}</v>'"));
    return QStringLiteral("<t>{") + marked + QStringLiteral("}</t>");
}

// Reads the serialized sections of marked templates back into value rows.
bool parseMarked(const QString &output, QVector<ValueRows> *sections)
{
    static const QString sectionStart = QStringLiteral("<t>");
    static const QString sectionEnd = QStringLiteral("</t>");
    static const QString emptySection = QStringLiteral("<t/>");
    static const QString rowStart = QStringLiteral("<sql>");
    static const QString rowEnd = QStringLiteral("</sql>");
    static const QString valueStart = QStringLiteral("<v>");
    static const QString valueEnd = QStringLiteral("</v>");
    static const QString emptyValue = QStringLiteral("<v/>");

    ValueRows rows;
    QStringList row;
    bool inSection = false;
    int pos = 0;
    while (true) {
        const int lt = output.indexOf(QLatin1Char('<'), pos);
        if (lt < 0)
            break;
        const int gt = output.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            return false;
        const QStringRef tag = output.midRef(lt, gt - lt + 1);
        pos = gt + 1;
        if (tag == valueStart) {
            const int end = output.indexOf(valueEnd, pos);
            if (end < 0)
                return false;
            row.append(output.mid(pos, end - pos));
            pos = end + valueEnd.size();
        } else if (tag == emptyValue) {
            row.append(QString());
        } else if (tag == rowStart) {
            row.clear();
        } else if (tag == rowEnd) {
            rows.append(row);
        } else if (tag == sectionStart) {
            rows.clear();
            inSection = true;
        } else if (tag == sectionEnd && inSection) {
            sections->append(rows);
            inSection = false;
        } else if (tag == emptySection) {
            sections->append(ValueRows());
        } else {
            return false;
        }
    }
    return !inSection;
}

bool evaluateMarked(const QByteArray &document, const QStringList &templates,
                    QVector<ValueRows> *sections)
{
    QStringList parts;
    parts.reserve(templates.size());
    for (const QString &queryTemplate : templates)
        parts << markedTemplate(queryTemplate);
    QString output;
    if (!runQuery(document, QLatin1Char('(') + parts.join(QStringLiteral(",\n")) + QLatin1Char(')'),
                  &output))
        return false;
    sections->clear();
    return parseMarked(output, sections) && sections->size() == templates.size();
}

} // namespace

ParseInventoryXml::ParseInventoryXml(QObject *parent) : QObject(parent) {}

QStringList ParseInventoryXml::evaluateTemplate(const QByteArray &document,
                                                const QString &queryTemplate)
{
    if (DocumentGuard::check(document).verdict != DocumentGuard::Accepted)
        return QStringList();
    QString text;
    runQuery(document, orderedTemplate(queryTemplate), &text);
    text.remove(QStringLiteral("<sql>"));
    if (text.isEmpty())
        return QStringList();
    QStringList rows = text.split(QStringLiteral("</sql>"), Qt::KeepEmptyParts);
    rows.removeLast();
    return rows;
}

QStringList ParseInventoryXml::evaluateTemplate(const QString &document,
                                                const QString &queryTemplate)
{
    return evaluateTemplate(document.toUtf8(), queryTemplate);
}

QString ParseInventoryXml::computerNameText(const QByteArray &document)
{
    QString text;
    if (DocumentGuard::check(document).verdict == DocumentGuard::Accepted)
        runQuery(
            document,
            orderedTemplate(InventoryTemplates::sectionTemplate(InventoryTemplates::ComputerName)),
            &text);
    text.remove(QStringLiteral("<sql>"));
    text.remove(QStringLiteral("</sql>"));
    return text.isEmpty() ? QStringLiteral("''") : text;
}

QVector<ValueRows> ParseInventoryXml::evaluateValues(const QByteArray &document,
                                                     const QStringList &templates)
{
    QVector<ValueRows> sections;
    if (evaluateMarked(document, templates, &sections))
        return sections;
    if (templates.size() == 1)
        return QVector<ValueRows>(1);
    // Some template fails on this document: halve the group until the failing ones stand
    // alone, which costs a few readings instead of one per template.
    qCDebug(lcIngestion) << "evaluation of" << templates.size() << "templates failed, splitting";
    const int half = templates.size() / 2;
    return evaluateValues(document, templates.mid(0, half)) +
           evaluateValues(document, templates.mid(half));
}

bool ParseInventoryXml::readableDocument(const QString &payload, const QString &kind, int machineId,
                                         const LogFunction &log, QByteArray *document)
{
    // One character per byte: an oversized payload is refused before it is copied again.
    const DocumentGuard::Result result =
        payload.size() > kMaxDocumentBytes
            ? DocumentGuard::tooLarge(payload.size())
            : DocumentGuard::check(*document = DocumentGuard::transportBytes(payload));
    switch (result.verdict) {
    case DocumentGuard::Accepted:
        return true;
    case DocumentGuard::Empty:
        return false;
    case DocumentGuard::Malformed:
        qCWarning(lcIngestion) << kind << "of machine" << machineId
                               << "is not well-formed:" << result.reason;
        return false;
    case DocumentGuard::Rejected:
        qCWarning(lcIngestion) << kind << "of machine" << machineId << "refused:" << result.reason;
        if (log)
            log(tr("%1 of machine %2 refused: %3").arg(kind).arg(machineId).arg(result.reason));
        return false;
    }
    return false;
}

void ParseInventoryXml::storeInventory(int machineId, const QString &payload,
                                       const LogFunction &log, const QSqlDatabase &db)
{
    QByteArray document;
    if (!readableDocument(payload, tr("Inventory document"), machineId, log, &document))
        return;
    const QVector<ValueRows> sections =
        evaluateValues(document, InventoryTemplates::sectionTemplates());
    InventoryStore::store(db, machineId, sections, DateTimeText::now());
}

void ParseInventoryXml::storeAlarms(int machineId, const QString &payload, const LogFunction &log,
                                    const QSqlDatabase &db)
{
    QByteArray document;
    if (!readableDocument(payload, tr("Alarm document"), machineId, log, &document))
        return;
    const QVector<ValueRows> kinds = evaluateValues(document, InventoryTemplates::alarmTemplates());
    AlarmStore::store(db, machineId, kinds, DateTimeText::now());
}
