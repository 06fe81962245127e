#include "apps/orvik/cli/programarguments.h"

#include "apps/orvik/cli/safetext.h"

#include <algorithm>

namespace ORVIK {

namespace {

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("-h") || argument == QLatin1String("--help") ||
           argument == QLatin1String("--help-all");
}

} // namespace

ProgramArguments ProgramArguments::read(const QStringList &arguments, const QStringList &commands)
{
    ProgramArguments result;
    QStringList rest;
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        optionsEnded |= argument == QLatin1String("--");
        if (!optionsEnded && argument == QLatin1String("--verbose"))
            result.verbose = true;
        else
            rest.append(argument);
    }

    // The command is the first word that is no option; a word right after an option may be that
    // option's value (`orvik --module PATH get`, `orvik -o FILE get`) unless it names a command.
    QStringList before;
    qsizetype at = 0;
    bool afterOption = false;
    for (; at < rest.size(); ++at) {
        const QString &argument = rest.at(at);
        if (argument == QLatin1String("--"))
            break;
        const bool word = !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-");
        if (word && (!afterOption || commands.contains(argument) || argument == QLatin1String("help")))
            break;
        before.append(argument);
        afterOption = !word && !argument.contains(QLatin1Char('='));
    }
    if (at == rest.size() || rest.at(at) == QLatin1String("--")) {
        if (before == QStringList{QStringLiteral("--version")}) {
            result.action = Action::RunCommand;
            result.command = QStringLiteral("version");
            return result;
        }
        if (!before.isEmpty() && std::all_of(before.cbegin(), before.cend(), isHelp)) {
            result.action = Action::ShowUsage;
            return result;
        }
        result.error =
            before.isEmpty()
                ? QStringLiteral("no command given")
                : QStringLiteral("no command given after %1").arg(SafeText::printable(before.join(QLatin1Char(' '))));
        return result;
    }
    QString command = rest.at(at);
    QStringList after = rest.mid(at + 1);
    if (command == QLatin1String("help")) {
        // `orvik help` and `orvik help COMMAND`, the same as `orvik --help` and `orvik COMMAND --help`.
        if (after.isEmpty()) {
            result.action = Action::ShowUsage;
            return result;
        }
        if (after.size() > 1) {
            result.error = QStringLiteral("help takes one COMMAND, and \"%1\" was given as well")
                               .arg(SafeText::printable(after.at(1)));
            return result;
        }
        command = after.constFirst();
        after = {QStringLiteral("--help")};
    }
    if (!commands.contains(command)) {
        result.error = QStringLiteral("unknown command \"%1\"").arg(SafeText::printable(command));
        return result;
    }
    result.action = Action::RunCommand;
    result.command = command;
    result.arguments = before + after;
    return result;
}

} // namespace ORVIK
