#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// Values above this mean the shell started the program, as the shell's own start call reports.
constexpr int kShellStartedAbove = 32;

// Starts a program the agent does not wait for. One implementation per platform.
class ShellStart
{
public:
    virtual ~ShellStart();

    // Above kShellStartedAbove when the program started, kShellStartedAbove or less when not.
    virtual int start(const QString &program, const QStringList &arguments) = 0;
    // The parameters as one text, split the way a command line is.
    int open(const QString &program, const QString &parameters);

    static std::unique_ptr<ShellStart> create();
};
