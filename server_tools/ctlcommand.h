#pragma once

#include <QStringList>

class QTextStream;

// The command line of kelvarix-ctl, the program through which the set-up, the uninstaller
// and the services program reach the machine's services:
//
//   kelvarix-ctl [--program-dir DIR] postgres initdb|start|stop|stop-fast|restart|reload|status
//   kelvarix-ctl [--program-dir DIR] postgres createuser-tmp
//   kelvarix-ctl [--program-dir DIR] httpd install|uninstall|start|stop|restart|query
//   kelvarix-ctl [--program-dir DIR] server query|stop [--force]
//   kelvarix-ctl kill [--force] PID
//
// DIR is the directory of the programs, <base>/kelvarix (default: kelvarix-ctl's own).
class CtlCommand
{
public:
    // Runs the command; the result is the program's exit code.
    static int run(const QStringList &arguments, QTextStream &out, QTextStream &err);
    static QString usage();

private:
    static int server(const QString &programDir, const QStringList &arguments, QTextStream &out,
                      QTextStream &err);
    static int kill(const QStringList &arguments, QTextStream &out, QTextStream &err);
};
