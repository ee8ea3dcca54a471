#pragma once

#include "inventoryvalues.h"

#include <QByteArray>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// Reads inventory and alarm documents through the XML query templates and stores their rows
// for one machine. Holds no state; every operation is static.
//
//     ParseInventoryXml::storeInventory(machineId, report.payload,
//                                       [this](const QString &line) { writeLog(line); });
class ParseInventoryXml : public QObject
{
    Q_OBJECT
public:
    // Receives the lines meant for the server log (a refused document, for example).
    using LogFunction = std::function<void(const QString &)>;

    explicit ParseInventoryXml(QObject *parent = nullptr);

    // The row texts of one template over a UTF-8 document, as the serializer writes them:
    // 'a','b' per matching element, in document order. Empty when the template fails or the
    // document is refused.
    static QStringList evaluateTemplate(const QByteArray &document, const QString &queryTemplate);
    static QStringList evaluateTemplate(const QString &document, const QString &queryTemplate);
    // The computer name between apostrophes ('PC-042'), '' without a pcName element.
    static QString computerNameText(const QByteArray &document);

    // The values of every row of every template (each still in the serializer's escaped
    // form, without the surrounding apostrophes). The document is read once for all
    // templates; only when that fails are smaller groups evaluated, so that a failing
    // template empties just its own section. The document must have passed
    // DocumentGuard.
    static QVector<ValueRows> evaluateValues(const QByteArray &document,
                                             const QStringList &templates);

    // Stores an inventory report's payload for a machine. The payload holds the UTF-8
    // document one character per byte, as it came off the wire.
    static void storeInventory(int machineId, const QString &payload,
                               const LogFunction &log = LogFunction(),
                               const QSqlDatabase &db = QSqlDatabase::database());
    // Stores the alarms of an alarm request's payload for a machine.
    static void storeAlarms(int machineId, const QString &payload,
                            const LogFunction &log = LogFunction(),
                            const QSqlDatabase &db = QSqlDatabase::database());

private:
    // The document's bytes when it may be read; logs and returns false otherwise.
    static bool readableDocument(const QString &payload, const QString &kind, int machineId,
                                 const LogFunction &log, QByteArray *document);
};
