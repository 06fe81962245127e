#pragma once

#include "apps/orvik/cli/commandline.h"
#include "apps/orvik/moduleloader.h"

#include <QStringList>
#include <QTextStream>

namespace ORVIK {

// Exit codes shared by every command: 0 done (for update-check: up to date), 1 failure, 2 usage
// error, 100 an update is available (also when it was downloaded or its installer started).
enum ExitCode { ExitOk = 0, ExitFailure = 1, ExitUsage = 2, ExitUpdateAvailable = 100 };

// What a command gets: its arguments, the output streams and the module loader.
struct CommandContext
{
    QStringList arguments; // "orvik COMMAND" first, then the command's own arguments
    QTextStream &out;
    QTextStream &err;
    ModuleLoader &loader;

    // The command's name ("get").
    QString command() const;
    // Names the command and adds the options that every command takes (--module, --help).
    void addCommonOptions(CommandLine &parser) const;
    // Those options alone, for a look at a command's arguments before it runs.
    static void addSharedOptions(CommandLine &parser);
    // Parses; on a usage error prints one line and returns false. --help prints the help and exits 0
    // before anything is loaded or contacted.
    bool parse(CommandLine &parser);
    // Loads and registers the module from --module or beside the program; prints one line on failure.
    bool loadModule(const CommandLine &parser);
    // Loads the module and installs its access manager through the meta-types hook.
    bool loadModuleWithServices(const CommandLine &parser);
    // Loads one of orvik's plug-ins from beside the program or where installed (they stay loaded) and
    // resolves its entry; prints one line and returns null on failure.
    QFunctionPointer resolvePluginEntry(const char *pluginName, const char *symbol);
    // Runs a plug-in's entry, whose signature is int(const Request &, QTextStream &out, QTextStream &err).
    template <typename Request>
    int runPlugin(const char *pluginName, const char *symbol, const Request &request)
    {
        using Entry = int (*)(const Request &, QTextStream &, QTextStream &);
        const auto entry = reinterpret_cast<Entry>(resolvePluginEntry(pluginName, symbol));
        return entry ? entry(request, out, err) : ExitUsage;
    }
};

} // namespace ORVIK
