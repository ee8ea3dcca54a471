#include "wqlquery.h"

#include "valueforms.h"

#include <QRegularExpression>

namespace
{

const QString kIdentifier = QStringLiteral("[A-Za-z_][A-Za-z0-9_]*");

bool parseCondition(const QString &text, WqlQuery::Condition &condition)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(%1)\\s*(=|\\bLIKE\\b)\\s*(?:'([^']*)'|(-?[0-9]+))\\s*$")
            .arg(kIdentifier),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    condition.property = m.captured(1);
    condition.like = m.captured(2).compare(QLatin1String("LIKE"), Qt::CaseInsensitive) == 0;
    condition.quoted = m.capturedStart(3) >= 0;
    condition.value = condition.quoted ? m.captured(3) : m.captured(4);
    // LIKE takes a quoted pattern only.
    return !condition.like || condition.quoted;
}

} // namespace

bool WqlQuery::parse(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*SELECT\\s+(\\*|%1(?:\\s*,\\s*%1)*)\\s+FROM\\s+(%1)"
                       "(?:\\s+WHERE\\s+(.+?))?\\s*$")
            .arg(kIdentifier),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    className = m.captured(2);
    columns.clear();
    conditions.clear();
    if (m.captured(1) != QLatin1String("*")) {
        for (const QString &column : m.captured(1).split(QLatin1Char(',')))
            columns.append(column.trimmed());
    }
    if (m.capturedStart(3) >= 0) {
        static const QRegularExpression orSplit(QStringLiteral("\\s+OR\\s+"),
                                                QRegularExpression::CaseInsensitiveOption);
        for (const QString &part : m.captured(3).split(orSplit)) {
            Condition condition;
            if (!parseCondition(part, condition))
                return false;
            conditions.append(condition);
        }
    }
    return true;
}

bool WqlQuery::matches(const ManagementObject &object) const
{
    if (conditions.isEmpty())
        return true;
    for (const Condition &condition : conditions) {
        const PropertyValue value = object.get(condition.property);
        if (value.isNone())
            continue;
        if (condition.like) {
            if (likeMatches(variantText(value), condition.value))
                return true;
        } else if (condition.quoted) {
            if (variantText(value).compare(condition.value, Qt::CaseInsensitive) == 0)
                return true;
        } else if (value.toInt64() == condition.value.toLongLong() ||
                   (value.kind() == PropertyValue::Int32 &&
                    qint64(quint32(value.int32Value())) == condition.value.toLongLong())) {
            return true;
        }
    }
    return false;
}

void WqlQuery::project(ManagementObject &object) const
{
    if (!columns.isEmpty())
        object.restrictTo(columns);
}

bool WqlQuery::likeMatches(const QString &text, const QString &pattern)
{
    // Iterative wildcard match with a single backtrack point for the last "%".
    int t = 0, p = 0, starP = -1, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern.at(p) == QLatin1Char('%')) {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() &&
                   (pattern.at(p) == QLatin1Char('_') ||
                    pattern.at(p).toCaseFolded() == text.at(t).toCaseFolded())) {
            ++p;
            ++t;
        } else if (starP >= 0) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('%'))
        ++p;
    return p == pattern.size();
}
