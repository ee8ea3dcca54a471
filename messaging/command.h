#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

class QIODevice;

// Size of the fixed TCP header and of the parameter text inside it.
constexpr int kHeaderSize = 118;
constexpr int kTextSize = 100;
constexpr quint8 kProtocolVersion = 1;
constexpr quint8 kProtocolSignature = 0xAA;

// One message between agent, server and manager; copied whole wherever it goes.
struct Command {
    quint8 version = 0;
    quint8 signature = 0;
    qint32 agentId = 0;
    qint32 reference = 0;
    quint8 type = 0;
    quint16 value = 0;
    quint8 flag = 0;
    char text[kTextSize] = {};
    qint32 payloadLength = 0;
    QString payload;
};

// The server's signal signatures spell the record this way.
typedef Command TCommand;

Q_DECLARE_METATYPE(Command)

namespace CommandType {
enum Code : quint8 {
    Inventory = 2,
    Deploy = 3,
    CommandLine = 4,
    FileUpload = 5,
    DeleteApplication = 6,
    MachinesChanged = 7,
    Identity = 8,
    FileTransfer = 9,
    ManagerHello = 10,
    BlindPacket = 11,
    Hello = 12,
    JobResult = 14,
    InventoryResult = 15,
    Discovery = 16,
    ObserverTick = 17,
    Undeploy = 18,
    DeployWithSwitches = 19,
    UndeployWithSwitches = 20,
    InstallerMissing = 21,
    CpuRule = 22,
    DiskRule = 23,
    MemoryRule = 24,
    ProcessRule = 25,
    ChangesRule = 26,
    AlarmReport = 32,
    RemoveRule = 33,
    NoJob = 255,
};
}

namespace ResultCode {
enum Code : quint16 {
    Pending = 235,
    Succeeded = 236,
    Failed = 237,
    InstallerNotFound = 238,
    NotUnderstood = 239,
};
}

namespace CheckResult {
enum Code { Valid = 0, BadVersion = 28, BadSignature = 29 };
}

void initCommand(Command &command, qint32 agentId, quint8 type, qint32 reference);
int checkCommand(const Command &command);

// The parameter text: NUL-terminated Latin-1, cut to 100 bytes (then without terminator).
void setCommandText(Command &command, const QString &text);
void setCommandTextBytes(Command &command, const QByteArray &bytes);
QString commandText(const Command &command);

// Pure header codec; decodeHeader needs at least kHeaderSize bytes.
QByteArray encodeHeader(const Command &command);
bool decodeHeader(const QByteArray &bytes, Command &command);

// Payload bytes as sent on TCP: one byte per character (Latin-1).
QByteArray payloadBytes(const Command &command);

// UDP form: header followed by the payload as a length-prefixed UTF-16BE string.
QByteArray encodeDatagram(const Command &command);
bool decodeDatagram(const QByteArray &bytes, Command &command);

// Registers the "Command" meta-type for queued connections; safe to call repeatedly.
void registerCommandMetaType();
