#include "shellstart.h"

#include "detachedshellstart.h"

#include <QProcess>

ShellStart::~ShellStart() = default;

int ShellStart::open(const QString &program, const QString &parameters)
{
    return start(program, QProcess::splitCommand(parameters));
}

std::unique_ptr<ShellStart> ShellStart::create()
{
    return std::unique_ptr<ShellStart>(new DetachedShellStart);
}
