#include "command.h"

#include <QDataStream>
#include <QMetaType>

#include <cstring>

void initCommand(Command &command, qint32 agentId, quint8 type, qint32 reference)
{
    command.version = kProtocolVersion;
    command.signature = kProtocolSignature;
    command.agentId = agentId;
    command.type = type;
    command.reference = reference;
    command.value = 0;
    command.flag = 0;
    std::memset(command.text, 0, kTextSize);
    command.payloadLength = 0;
    command.payload = QString();
}

int checkCommand(const Command &command)
{
    if (command.version != kProtocolVersion)
        return CheckResult::BadVersion;
    if (command.signature != kProtocolSignature)
        return CheckResult::BadSignature;
    return CheckResult::Valid;
}

void setCommandTextBytes(Command &command, const QByteArray &bytes)
{
    std::memset(command.text, 0, kTextSize);
    std::memcpy(command.text, bytes.constData(), size_t(qMin(bytes.size(), kTextSize)));
}

void setCommandText(Command &command, const QString &text)
{
    setCommandTextBytes(command, text.toLatin1());
}

QString commandText(const Command &command)
{
    const void *nul = std::memchr(command.text, 0, kTextSize);
    const int length = nul ? int(static_cast<const char *>(nul) - command.text) : kTextSize;
    return QString::fromLatin1(command.text, length);
}

static void writeHeaderFields(QDataStream &out, const Command &command)
{
    out << command.version << command.signature << command.agentId << command.reference
        << command.type << qint16(command.value) << command.flag;
    out.writeRawData(command.text, kTextSize);
    out << command.payloadLength;
}

static void readHeaderFields(QDataStream &in, Command &command)
{
    qint16 value = 0;
    in >> command.version >> command.signature >> command.agentId >> command.reference >>
        command.type >> value >> command.flag;
    command.value = quint16(value);
    in.readRawData(command.text, kTextSize);
    in >> command.payloadLength;
}

QByteArray encodeHeader(const Command &command)
{
    QByteArray bytes;
    bytes.reserve(kHeaderSize);
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    writeHeaderFields(out, command);
    return bytes;
}

bool decodeHeader(const QByteArray &bytes, Command &command)
{
    if (bytes.size() < kHeaderSize)
        return false;
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::BigEndian);
    readHeaderFields(in, command);
    return in.status() == QDataStream::Ok;
}

QByteArray payloadBytes(const Command &command)
{
    return command.payload.toLatin1();
}

QByteArray encodeDatagram(const Command &command)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    writeHeaderFields(out, command);
    out << command.payload;
    return bytes;
}

bool decodeDatagram(const QByteArray &bytes, Command &command)
{
    if (bytes.size() < kHeaderSize + 4)
        return false;
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::BigEndian);
    readHeaderFields(in, command);
    in >> command.payload;
    return in.status() == QDataStream::Ok;
}

void registerCommandMetaType()
{
    qRegisterMetaType<Command>("Command");
    qRegisterMetaType<Command>("TCommand");
}
