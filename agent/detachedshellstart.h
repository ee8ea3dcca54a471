#pragma once

#include "shellstart.h"

// The Linux layer: a detached process, which outlives the agent's connection.
class DetachedShellStart : public ShellStart
{
public:
    // Returned when the program started.
    static constexpr int kStarted = 42;
    // Returned when it did not (the shell's "file not found").
    static constexpr int kNotStarted = 2;

    int start(const QString &program, const QStringList &arguments) override;
};
