#include "apps/orvik/commandcontext.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/outputcheck.h"
#include "apps/orvik/programfolders.h"
#include "apps/orvik/transfer/environmentproxy.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QNetworkProxyFactory>

#include <cstdlib>

namespace ORVIK {

namespace {

const QCommandLineOption
    kModuleOption(QStringLiteral("module"),
                  QStringLiteral("The module file (default: beside orvik, else the installed one)."),
                  QStringLiteral("PATH"));

} // namespace

QString CommandContext::command() const
{
    return arguments.constFirst().section(QLatin1Char(' '), 1);
}

void CommandContext::addCommonOptions(CommandLine &parser) const
{
    parser.setCommand(command());
    addSharedOptions(parser);
}

void CommandContext::addSharedOptions(CommandLine &parser)
{
    parser.addOption(kModuleOption);
    parser.addHelpOption();
}

bool CommandContext::parse(CommandLine &parser)
{
    switch (parser.parse(arguments.mid(1))) {
    case CommandLine::Outcome::UsageError:
        ErrorLine::print(err, parser.errorText());
        return false;
    case CommandLine::Outcome::Help:
        out << parser.helpText();
        // As QCommandLineParser::showHelp does: nothing is loaded yet.
        std::exit(OutputCheck::finish(out, err, ExitOk));
    case CommandLine::Outcome::Run:
        break;
    }
    return true;
}

bool CommandContext::loadModule(const CommandLine &parser)
{
    if (loader.module())
        return true;
    const QString path = parser.isSet(kModuleOption) ? parser.value(kModuleOption) : ModuleLoader::defaultPath();
    if (!loader.load(path)) {
        ErrorLine::print(err, loader.error());
        return false;
    }
    return true;
}

bool CommandContext::loadModuleWithServices(const CommandLine &parser)
{
    if (!loadModule(parser))
        return false;
    if (!loader.callSetupMetatypes()) {
        ErrorLine::print(err, QStringLiteral("the module has no SetupMetatypesForORVIK hook"));
        return false;
    }
    // Every web transfer of this process follows the proxy variables as curl does.
    QNetworkProxyFactory::setApplicationProxyFactory(new EnvironmentProxy);
    return true;
}

QFunctionPointer CommandContext::resolvePluginEntry(const char *pluginName, const char *symbol)
{
    QLibrary plugin(ProgramFolders::pluginFile(pluginName));
    const QFunctionPointer entry = plugin.resolve(symbol);
    if (!entry)
        ErrorLine::print(
            err, QStringLiteral("cannot load the plug-in %1: %2").arg(QLatin1String(pluginName), plugin.errorString()));
    return entry;
}

} // namespace ORVIK
