#include "serversettings.h"

#include <QIODevice>
#include <QTextCodec>

namespace
{

// Editors on Linux write UTF-8; a file in the 8-bit code page still reads byte for byte.
QString decodeLine(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0)
        return QString::fromLatin1(bytes.constData(), bytes.size());
    return text;
}

int portValue(const QString &value)
{
    bool ok = false;
    const int port = value.toInt(&ok, 10);
    return ok ? port : 0;
}

} // namespace

QString ServerSettings::lineValue(const QString &line, bool *valueFound)
{
    const int first = line.indexOf(QLatin1Char('='));
    if (valueFound)
        *valueFound = first >= 0;
    if (first < 0)
        return QString();
    const int second = line.indexOf(QLatin1Char('='), first + 1);
    const int length = second < 0 ? -1 : second - first - 1;
    return line.mid(first + 1, length).trimmed();
}

bool ServerSettings::applyLine(const QString &line)
{
    // Tested in this order; the first key the line starts with takes it.
    enum Key {
        DbServer,
        DbUsername,
        DbPassword,
        DbName,
        DbType,
        ServerManager,
        ServerAgent,
        Manager,
        Agent,
        WebSocket,
        DbPort,
        KeyCount
    };
    static const char *const keys[KeyCount] = {
        "dbServer",  "dbUsername",        "dbPassword",      "dbName",
        "dbType",    "ServerManagerPort", "ServerAgentPort", "ManagerPort",
        "AgentPort", "WebSocketPort",     "dbPort"};

    int key = 0;
    while (key < KeyCount && !line.startsWith(QLatin1String(keys[key])))
        ++key;
    if (key == KeyCount)
        return false;

    bool found = false;
    const QString value = lineValue(line, &found);
    // A key line without "=" carries no value, so the setting keeps what it had.
    if (!found)
        return true;

    switch (key) {
    case DbServer:
        dbServer = value;
        break;
    case DbUsername:
        dbUsername = value;
        break;
    case DbPassword:
        dbPassword = value;
        break;
    case DbName:
        dbName = value;
        break;
    case DbType:
        dbType = value;
        break;
    case ServerManager:
        ServerManagerPort = portValue(value);
        break;
    case ServerAgent:
        ServerAgentPort = portValue(value);
        break;
    case Manager:
        ManagerPort = portValue(value);
        break;
    case Agent:
        AgentPort = portValue(value);
        break;
    case WebSocket:
        WebSocketPort = portValue(value);
        break;
    case DbPort:
        dbPort = portValue(value);
        break;
    }
    return true;
}

void ServerSettings::applyAll(QIODevice &device)
{
    while (!device.atEnd()) {
        QString line = decodeLine(device.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        applyLine(line);
    }
}
