#pragma once

#include "managementobject.h"

#include <QVector>

// The small part of WQL the probes issue: SELECT * or a column list FROM one class, with an
// optional WHERE of equality or LIKE comparisons joined by OR.
class INVPROBE_EXPORT WqlQuery
{
public:
    struct Condition {
        QString property;
        bool like = false;
        bool quoted = false;
        QString value;
    };

    bool parse(const QString &text);
    bool matches(const ManagementObject &object) const;
    // Applies the column list, if any.
    void project(ManagementObject &object) const;

    QString className;
    QStringList columns;
    QVector<Condition> conditions;

    // WQL LIKE: "%" any run of characters, "_" any one character, case ignored.
    static bool likeMatches(const QString &text, const QString &pattern);
};
