#pragma once

#include <QString>
#include <QStringList>

// What the changes rule last saw of one section of the machine (hardware, printers, network
// adapters, installed software). Until it is taken there is nothing to compare against: an
// empty list is a real state (every watched program removed), never "no starting point".
template <typename T> struct Snapshot {
    bool taken = false;
    T value;
};

// One check of a section of text (hardware, printers, network adapters): the snapshot to keep
// and whether it changed since the last one.
struct TextCheck {
    Snapshot<QString> next;
    bool changed = false;
};

// One check of the software list: the snapshot to keep and the entries that came and went.
struct ListCheck {
    Snapshot<QStringList> next;
    QStringList added;
    QStringList removed;
};

// The decisions of the changes rule. A query that failed leaves the snapshot as it was and
// reports nothing; the first successful query takes the snapshot without reporting.
TextCheck checkText(const Snapshot<QString> &previous, bool queryOk, const QString &current);
// Entries are compared ignoring letter case; a list that only changed order is kept without
// findings.
ListCheck checkList(const Snapshot<QStringList> &previous, bool queryOk,
                    const QStringList &current);
