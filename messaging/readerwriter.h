#pragma once

#include "command.h"

#include <QFile>
#include <QString>

class QAbstractSocket;
class QIODevice;

// Files move in chunks of this size, never read whole into memory.
constexpr qint64 kFileChunkSize = 100000;
// How long one chunk may take to leave before the next one follows.
constexpr int kChunkWriteTimeoutMs = 30000;
// Text payloads are held in memory; a peer announcing more than this is refused.
constexpr qint32 kMaxTextPayload = 64 * 1024 * 1024;
// Directory below the working directory where file payloads land.
extern const char kUploadDirName[];

// Codec and file state shared by both connection endpoints.
class ReaderWriter
{
public:
    enum class ReadStatus { Incomplete, Complete, Bad };

    ReaderWriter();
    virtual ~ReaderWriter();

    static void writeHeader(const Command &command, QIODevice *device);
    static void writePayload(const Command &command, QIODevice *device);
    static void writeCommand(const Command &command, QIODevice *device);
    static bool readHeader(Command &command, QIODevice *device);
    static void appendPayload(Command &command, QIODevice *device);
    static bool writeChunk(const QByteArray &bytes, QAbstractSocket *socket);

    // Path of the temporary file the last file payload was written to.
    QString fileName;
    // The file being sent; the caller opens it for reading before a send starts.
    QFile sendFile;

protected:
    // Reads what the socket holds into `incoming`. On Bad, `failure` says why; the caller
    // logs it and closes. fileCarrying tells whether a given type streams into a file.
    ReadStatus readIncoming(QAbstractSocket *socket, bool (*fileCarrying)(quint8),
                            QString *failure);
    // Reads one chunk of the send file to the socket; false at end of file, where the send
    // file is closed and the upload over.
    bool sendNextChunk(QAbstractSocket *socket, int *percent);
    // Ends the connection and both files; the endpoint then drops its own connections.
    void shutDown(QAbstractSocket *socket);
    // Creates "upload" and a fresh, uniquely named temporary file inside it.
    bool openReceiveFile(QString *failure);

    bool expectHeader = true;
    Command incoming;
    QFile receiveFile;
    qint64 bytesSent = 0;
    bool uploading = false;
};
