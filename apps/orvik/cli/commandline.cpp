#include "apps/orvik/cli/commandline.h"

#include "apps/orvik/cli/safetext.h"

#include <algorithm>

namespace ORVIK {

namespace {

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("help-all")},
                               QStringLiteral("Print this help and stop."));

// Help lines fit a terminal of 80 columns.
constexpr int kHelpWidth = 79;

// The text's lines, each broken at spaces to at most `width` characters where the words allow.
QStringList wrapped(const QString &text, int width)
{
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString &word : paragraph.split(QLatin1Char(' '))) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
                lines.append(line);
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines.append(line);
    }
    return lines;
}

// Placeholders look alike in every command: FILE, SECONDS, N.
QString placeholder(const QCommandLineOption &option)
{
    return option.valueName().toUpper();
}

} // namespace

CommandLine::CommandLine(const QString &command) : m_command(command)
{}

void CommandLine::addOption(const QCommandLineOption &option)
{
    m_options.append(option);
}

void CommandLine::addOptions(const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options)
        addOption(option);
}

void CommandLine::addPositionalArgument(const QString &name, const QString &description, const QString &syntax)
{
    m_positionals.append({name, description, syntax.isEmpty() ? name.toUpper() : syntax});
}

void CommandLine::addHelpOption()
{
    if (!m_help)
        addOption(kHelp);
    m_help = true;
}

QString CommandLine::typed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

const QCommandLineOption *CommandLine::find(const QString &name) const
{
    for (const QCommandLineOption &option : m_options)
        if (option.names().contains(name))
            return &option;
    return nullptr;
}

bool CommandLine::fail(const QString &text)
{
    const QString help =
        m_command.isEmpty() ? QStringLiteral("orvik --help") : QStringLiteral("orvik %1 --help").arg(m_command);
    // The first mistake is the one reported.
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1; %2 lists the options").arg(text, help);
    return false;
}

bool CommandLine::take(const QCommandLineOption &option, const QString &value)
{
    m_values[option.names().constFirst()].append(value);
    return true;
}

CommandLine::Outcome CommandLine::parse(const QStringList &arguments)
{
    m_values.clear();
    m_positional.clear();
    m_error.clear();
    bool optionsEnded = false;
    // After a mistake the rest is still read: a request for help anywhere on the line wins.
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        bool ok = true;
        const QString &argument = arguments.at(i);
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            m_positional.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
            const QCommandLineOption *option = name.size() > 1 ? find(name) : nullptr;
            if (!option) {
                ok = fail(QStringLiteral("unknown option --%1").arg(SafeText::printable(name)));
            } else if (option->valueName().isEmpty()) {
                ok = equals < 0 ? take(*option, QString()) : fail(QStringLiteral("--%1 takes no value").arg(name));
            } else if (equals >= 0) {
                ok = take(*option, argument.mid(equals + 1));
            } else if (i + 1 < arguments.size()) {
                ok = take(*option, arguments.at(++i));
            } else {
                ok = fail(QStringLiteral("--%1 needs a value (%2)").arg(name, placeholder(*option)));
            }
            continue;
        }
        // Short options, one letter each, combined as in -so FILE; one that takes a value takes the
        // rest of the word (-oFILE) or else the next argument.
        for (qsizetype at = 1; ok && at < argument.size(); ++at) {
            const QString name = argument.mid(at, 1);
            const QCommandLineOption *option = find(name);
            if (!option) {
                // -list for --list: say so, rather than only that there is no -l.
                const QString word = argument.mid(1);
                const QCommandLineOption *meant =
                    word.size() > 1 ? find(word.section(QLatin1Char('='), 0, 0)) : nullptr;
                ok =
                    meant
                        ? fail(QStringLiteral("unknown option -%1 (did you mean --%1?)").arg(SafeText::printable(word)))
                        : fail(QStringLiteral("unknown option -%1").arg(SafeText::printable(name)) +
                               (argument.size() > 2 ? QStringLiteral(" (in %1)").arg(SafeText::printable(argument))
                                                    : QString()));
            } else if (option->valueName().isEmpty()) {
                ok = take(*option, QString());
            } else if (at + 1 < argument.size()) {
                ok = take(*option, argument.mid(at + 1));
                break;
            } else if (i + 1 < arguments.size()) {
                ok = take(*option, arguments.at(++i));
            } else {
                ok = fail(QStringLiteral("-%1 needs a value (%2)").arg(name, placeholder(*option)));
            }
        }
    }
    // Help wins over everything else on the line, mistakes in it included: it runs nothing.
    if (m_help && isSet(kHelp))
        return Outcome::Help;
    if (!m_error.isEmpty())
        return Outcome::UsageError;
    const bool repeats = !m_positionals.isEmpty() && m_positionals.constLast().syntax.contains(QLatin1String("..."));
    if (!repeats && m_positional.size() > m_positionals.size()) {
        const QString extra = SafeText::printable(m_positional.at(m_positionals.size()));
        fail(m_positionals.isEmpty()
                 ? QStringLiteral("%1 takes no arguments, and \"%2\" was given").arg(m_command, extra)
                 : QStringLiteral("one argument too many: \"%1\"").arg(extra));
        return Outcome::UsageError;
    }
    return Outcome::Run;
}

bool CommandLine::isSet(const QString &name) const
{
    const QCommandLineOption *option = find(name);
    return option && m_values.contains(option->names().constFirst());
}

QString CommandLine::value(const QString &name) const
{
    const QStringList given = values(name);
    if (!given.isEmpty())
        return given.constLast();
    const QCommandLineOption *option = find(name);
    return option && !option->defaultValues().isEmpty() ? option->defaultValues().constLast() : QString();
}

QStringList CommandLine::values(const QString &name) const
{
    const QCommandLineOption *option = find(name);
    return option ? m_values.value(option->names().constFirst()) : QStringList();
}

QString CommandLine::helpText() const
{
    QString usage = QStringLiteral("usage: orvik %1").arg(m_command);
    if (!m_options.isEmpty())
        usage += QStringLiteral(" [options]");
    for (const Positional &positional : m_positionals)
        usage += QLatin1Char(' ') + positional.syntax;
    QString text = usage + QLatin1Char('\n');
    if (!m_description.isEmpty())
        text += QLatin1Char('\n') + m_description + QLatin1Char('\n');

    // Two columns: what is typed, and what it does; long descriptions go on under the second.
    QList<QPair<QString, QString>> rows;
    for (const Positional &positional : m_positionals)
        rows.append({positional.name.toUpper(), positional.description});
    const qsizetype arguments = rows.size();
    // The command's own options first, then those that every command takes.
    QList<QCommandLineOption> options;
    for (const QCommandLineOption &option : m_options)
        if (option.names().constFirst() != QLatin1String("module") && option.names().constFirst() != QLatin1String("h"))
            options.append(option);
    for (const QCommandLineOption &option : m_options)
        if (option.names().constFirst() == QLatin1String("module") || option.names().constFirst() == QLatin1String("h"))
            options.append(option);
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            if (name != QLatin1String("help-all"))
                names.append(typed(name));
        QString left = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            left += QLatin1Char(' ') + placeholder(option);
        if (option.names().constFirst().size() > 1)
            left.prepend(QStringLiteral("    ")); // long options line up after "-x, "
        rows.append({left, option.description()});
    }
    int width = 0;
    for (const auto &row : rows)
        width = std::max(width, int(row.first.size()));
    width = std::min(width + 2, 32);
    const auto section = [&](const QString &title, qsizetype from, qsizetype to) {
        if (from >= to)
            return;
        text += QStringLiteral("\n%1:\n").arg(title);
        for (qsizetype i = from; i < to; ++i) {
            const QString left = QStringLiteral("  ") + rows.at(i).first;
            const QString indent(width + 2, QLatin1Char(' '));
            const QStringList lines = wrapped(rows.at(i).second, kHelpWidth - width - 2);
            text += left.size() <= width ? left.leftJustified(width + 2) + lines.constFirst()
                                         : left + QLatin1Char('\n') + indent + lines.constFirst();
            for (qsizetype line = 1; line < lines.size(); ++line)
                text += QLatin1Char('\n') + indent + lines.at(line);
            text += QLatin1Char('\n');
        }
    };
    section(QStringLiteral("arguments"), 0, arguments);
    section(QStringLiteral("options"), arguments, rows.size());
    return text;
}

QString CommandLine::repeatedOption() const
{
    for (const QCommandLineOption &option : m_options) {
        if (m_values.value(option.names().constFirst()).size() > 1)
            return option.names().constFirst();
    }
    return QString();
}

} // namespace ORVIK
