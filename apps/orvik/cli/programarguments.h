#pragma once

#include <QString>
#include <QStringList>

namespace ORVIK {

// orvik's command line around the command: the options that stand before it (`orvik -s get URL`,
// `orvik --verbose get URL`, `orvik --module PATH time HOST`) go to the command as if they followed
// it; --verbose may stand anywhere before a lone "--"; `orvik help [COMMAND]` and `orvik --help`
// ask for help; `orvik --version` is the version command.
struct ProgramArguments
{
    enum class Action { RunCommand, ShowUsage, UsageError };

    Action action = Action::UsageError;
    QString command;       // for RunCommand
    QStringList arguments; // the command's own, options from before it first
    bool verbose = false;
    QString error; // for UsageError: the line that says what is wrong

    // `arguments` without the program's name; `commands` are the names of the commands.
    static ProgramArguments read(const QStringList &arguments, const QStringList &commands);
};

} // namespace ORVIK
