#include "snapshot.h"

TextCheck checkText(const Snapshot<QString> &previous, bool queryOk, const QString &current)
{
    TextCheck check;
    check.next = previous;
    if (!queryOk)
        return check;
    check.changed = previous.taken && current != previous.value;
    check.next = {true, current};
    return check;
}

ListCheck checkList(const Snapshot<QStringList> &previous, bool queryOk, const QStringList &current)
{
    ListCheck check;
    check.next = previous;
    if (!queryOk)
        return check;
    if (previous.taken && current != previous.value) {
        for (const QString &entry : previous.value)
            if (!current.contains(entry, Qt::CaseInsensitive))
                check.removed.append(entry);
        for (const QString &entry : current)
            if (!previous.value.contains(entry, Qt::CaseInsensitive))
                check.added.append(entry);
    }
    check.next = {true, current};
    return check;
}
