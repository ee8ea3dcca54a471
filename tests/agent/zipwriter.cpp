#include "zipwriter.h"

#include <QFile>

namespace
{

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Version 1.0 is enough for stored entries; 1980-01-01 00:00 as the time stamp.
void putCommon(QByteArray &out, quint32 crc, int size, int nameSize)
{
    put16(out, 10);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0x21);
    put32(out, crc);
    put32(out, quint32(size));
    put32(out, quint32(size));
    put16(out, quint32(nameSize));
    put16(out, 0);
}

} // namespace

void ZipWriter::add(const QString &name, const QByteArray &data, int mode)
{
    entries.append({name.toUtf8(), data, mode});
}

bool ZipWriter::write(const QString &path) const
{
    QByteArray out;
    QByteArray central;
    for (const Entry &e : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32(e.data);
        put32(out, 0x04034b50);
        putCommon(out, crc, e.data.size(), e.name.size());
        out += e.name;
        out += e.data;

        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 20); // made on Unix, so the permissions count
        putCommon(central, crc, e.data.size(), e.name.size());
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, quint32(0100000 | e.mode) << 16);
        put32(central, offset);
        central += e.name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}
