#include "apps/orvik/commandcontext.h"

#include "apps/orvik/cli/outputcheck.h"
#include "apps/orvik/programfolders.h"
#include "apps/orvik/transfer/environmentproxy.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QNetworkProxyFactory>

#include <cstdlib>

namespace ORVIK {

namespace {

const QCommandLineOption kModuleOption(QStringLiteral("module"), QStringLiteral("Path of the module file."),
                                       QStringLiteral("path"));

} // namespace

void CommandContext::addCommonOptions(QCommandLineParser &parser) const
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(kModuleOption);
    parser.addHelpOption();
}

bool CommandContext::parse(QCommandLineParser &parser)
{
    if (!parser.parse(arguments)) {
        err << "orvik: " << parser.errorText() << Qt::endl;
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt names the program by the path it was started with; the user typed "orvik COMMAND".
        QString help = parser.helpText();
        const QString program = QCoreApplication::arguments().constFirst();
        if (help.startsWith(QStringLiteral("Usage: ") + program))
            help.replace(7, program.size(), arguments.constFirst());
        out << help;
        // As QCommandLineParser::showHelp does: nothing is loaded yet.
        std::exit(OutputCheck::finish(out, err, ExitOk));
    }
    return true;
}

bool CommandContext::loadModule(const QCommandLineParser &parser)
{
    if (loader.module())
        return true;
    const QString path = parser.isSet(kModuleOption) ? parser.value(kModuleOption) : ModuleLoader::defaultPath();
    if (!loader.load(path)) {
        err << "orvik: " << loader.error() << Qt::endl;
        return false;
    }
    return true;
}

bool CommandContext::loadModuleWithServices(const QCommandLineParser &parser)
{
    if (!loadModule(parser))
        return false;
    if (!loader.callSetupMetatypes()) {
        err << "orvik: the module has no SetupMetatypesForORVIK hook" << Qt::endl;
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
        err << "orvik: cannot load the plug-in " << pluginName << ": " << plugin.errorString() << Qt::endl;
    return entry;
}

} // namespace ORVIK
