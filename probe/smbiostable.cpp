#include "smbiostable.h"

#include <QHash>

namespace
{

constexpr int kHeaderLength = 4;
constexpr int kTypeMemoryArray = 16;
constexpr int kTypeMemoryDevice = 17;
constexpr int kTypeEndOfTable = 127;
constexpr int kArrayUseSystemMemory = 3;

quint32 readLE(const QByteArray &data, int offset, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | quint8(data.at(offset + i));
    return value;
}

} // namespace

int SmbiosTable::formFactorCode(int smbiosFormFactor)
{
    static const QHash<int, int> codes = {{1, 1}, {2, 0}, {3, 7},  {4, 2},   {6, 3},   {7, 4},
                                          {8, 6}, {9, 8}, {10, 9}, {12, 11}, {13, 12}, {14, 13}};
    return codes.value(smbiosFormFactor, 0);
}

int SmbiosTable::memoryTypeCode(int smbiosMemoryType)
{
    static const QHash<int, int> codes = {
        {0x01, 1},  {0x02, 0},  {0x03, 2},  {0x04, 6},  {0x05, 7},  {0x06, 8},
        {0x07, 9},  {0x08, 10}, {0x09, 11}, {0x0A, 12}, {0x0B, 13}, {0x0C, 14},
        {0x0D, 15}, {0x0E, 16}, {0x0F, 17}, {0x10, 18}, {0x11, 19}, {0x12, 20},
        {0x13, 21}, {0x14, 22}, {0x18, 24}, {0x19, 25}, {0x1A, 26}, {0x22, 34}};
    return codes.value(smbiosMemoryType, 0);
}

void SmbiosTable::parse(const QByteArray &table, QVector<MemoryArray> &arrays,
                        QVector<MemoryModule> &modules)
{
    int pos = 0;
    while (pos + kHeaderLength <= table.size()) {
        const int type = quint8(table.at(pos));
        const int length = quint8(table.at(pos + 1));
        if (length < kHeaderLength || pos + length > table.size())
            return;
        // The strings follow the formatted area and end with two NULs.
        QList<QByteArray> strings;
        int end = pos + length;
        while (end < table.size()) {
            const int nul = table.indexOf('\0', end);
            if (nul < 0)
                return;
            if (nul == end) {
                ++end;
                break;
            }
            strings.append(table.mid(end, nul - end));
            end = nul + 1;
        }
        if (strings.isEmpty())
            ++end; // an empty string set is two NULs
        const QByteArray s = table.mid(pos, length);
        auto stringAt = [&](int offset) {
            const int index = offset < length ? quint8(s.at(offset)) : 0;
            return index > 0 && index <= strings.size()
                       ? QString::fromLatin1(strings.at(index - 1)).trimmed()
                       : QString();
        };

        if (type == kTypeMemoryArray && length >= 0x0F) {
            if (quint8(s.at(0x05)) == kArrayUseSystemMemory) {
                MemoryArray array;
                array.memoryDevices = int(readLE(s, 0x0D, 2));
                arrays.append(array);
            }
        } else if (type == kTypeMemoryDevice && length >= 0x17) {
            const quint32 size = readLE(s, 0x0C, 2);
            // 0 is an empty slot, 0xFFFF an unknown size.
            if (size != 0 && size != 0xFFFF) {
                MemoryModule module;
                if (size == 0x7FFF && length >= 0x20)
                    module.capacityBytes = quint64(readLE(s, 0x1C, 4) & 0x7FFFFFFF) << 20;
                else if (size & 0x8000)
                    module.capacityBytes = quint64(size & 0x7FFF) << 10;
                else
                    module.capacityBytes = quint64(size) << 20;
                module.formFactor = formFactorCode(quint8(s.at(0x0E)));
                module.deviceLocator = stringAt(0x10);
                module.memoryType = memoryTypeCode(quint8(s.at(0x12)));
                module.typeDetail = int(readLE(s, 0x13, 2));
                module.speed = int(readLE(s, 0x15, 2));
                modules.append(module);
            }
        }
        if (type == kTypeEndOfTable)
            return;
        pos = end;
    }
}
