#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes a small zip archive (stored entries, Unix permissions) for deployment tests.
class ZipWriter
{
public:
    void add(const QString &name, const QByteArray &data, int mode = 0644);
    bool write(const QString &path) const;

private:
    struct Entry {
        QByteArray name;
        QByteArray data;
        int mode;
    };
    QList<Entry> entries;
};
