#pragma once

#include <QCommandLineOption>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace ORVIK {

// The options and arguments of one orvik command, read as people expect from other command-line
// tools: short options combine (`-so FILE`, `-oFILE`), long options take their value after a space
// or '=' (`--timeout 2`, `--timeout=2`), `--` ends the options, and a lone `-` is an argument.
// Options are declared as QCommandLineOption objects; an option with a value name takes a value.
class CommandLine
{
public:
    enum class Outcome { Run, Help, UsageError };

    // `command` names the command in the help and the messages ("get").
    explicit CommandLine(const QString &command = QString());

    void setCommand(const QString &command) { m_command = command; }
    void setApplicationDescription(const QString &description) { m_description = description; }
    void addOption(const QCommandLineOption &option);
    void addOptions(const QList<QCommandLineOption> &options);
    // `syntax` is how the usage line shows it (default: the name in capitals); in brackets it is
    // optional, and with "..." in it (`HOST [HOST...]`) it may be repeated, so that any number is accepted.
    void addPositionalArgument(const QString &name, const QString &description, const QString &syntax = QString());
    // `-h`, `--help` and `--help-all` ask for the help instead of running the command.
    void addHelpOption();

    // Reads the arguments (the command's own, without program and command name). A usage error
    // leaves the one line that says what is wrong in errorText().
    Outcome parse(const QStringList &arguments);
    QString errorText() const { return m_error; }
    QString helpText() const;

    bool isSet(const QCommandLineOption &option) const { return isSet(option.names().constFirst()); }
    bool isSet(const QString &name) const;
    // The last value given; the option's default when it was not given.
    QString value(const QCommandLineOption &option) const { return value(option.names().constFirst()); }
    QString value(const QString &name) const;
    QStringList values(const QCommandLineOption &option) const { return values(option.names().constFirst()); }
    QStringList values(const QString &name) const;
    QStringList positionalArguments() const { return m_positional; }
    // The first declared option given more than once ("public-key"), or an empty text. Where the
    // last of two would silently win, a command refuses instead.
    QString repeatedOption() const;

    // "-o" or "--output": a name as it is typed.
    static QString typed(const QString &name);

private:
    struct Positional
    {
        QString name;
        QString description;
        QString syntax;
    };

    const QCommandLineOption *find(const QString &name) const;
    bool take(const QCommandLineOption &option, const QString &value);
    bool fail(const QString &text);

    QString m_command;
    QString m_description;
    QList<QCommandLineOption> m_options;
    QList<Positional> m_positionals;
    bool m_help = false;
    QHash<QString, QStringList> m_values; // by the option's first name; a flag has empty values
    QStringList m_positional;
    QString m_error;
};

} // namespace ORVIK
