#include "apps/orvik/cli/commandline.h"
#include "apps/orvik/cli/consoleoutput.h"
#include "apps/orvik/cli/displaycheck.h"
#include "apps/orvik/cli/messagefilter.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/commands.h"
#include "host/widgets/networkrequest.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

using namespace ORVIK;

namespace {

constexpr int kExitDrainMs = 2000;

struct Command
{
    const char *name;
    const char *summary;
    bool needsWidgets; // widgets, drawn off screen unless showsWindow says the command shows one
    bool bulkTransfer; // moves a body through Qt's network thread, a piece of a few KiB per event
    int (*run)(CommandContext &);
};

const Command kCommands[] = {
    {"module", "load the module and print its registration and resources", false, false, &runModuleCommand},
    {"demo", "run every service once against loopback peers", true, false, &runDemoCommand},
    {"get", "download a URL through the module (-o FILE, or standard output)", false, true, &runGetCommand},
    {"put", "upload a FILE or --data TEXT to a URL through the module", false, true, &runPutCommand},
    {"time", "ask an NTP server for the time: transmit time, offset, delay", false, false, &runTimeCommand},
    {"update-check", "ask the update server whether a newer version exists", false, false, &runUpdateCheckCommand},
    {"update-sign", "sign an update description with an Ed25519 key", false, false, &runUpdateSignCommand},
    {"wifi", "scan for WiFi networks and choose one in the dialog", true, false, &runWifiCommand},
    {"version", "print the versions of orvik, the module and Qt (also: --version)", false, false, &runVersionCommand},
};

int usage(QTextStream &stream, int exitCode)
{
    stream << "usage: orvik [--verbose] COMMAND [options]   (orvik COMMAND --help for its options)\n\ncommands:\n";
    for (const Command &command : kCommands)
        stream << "  " << QString::fromLatin1(command.name).leftJustified(14) << command.summary << '\n';
    stream << "\noptions:\n"
              "  --help        this text\n"
              "  --version     the same as the version command\n"
              "  --verbose     also show Qt's own warnings (as does setting QT_LOGGING_RULES)\n";
    stream.flush();
    return exitCode;
}

// Whether this use of a widget command puts a window on the screen. The WiFi dialog does only when
// it is to be answered; the demo and the scans render off screen.
bool showsWindow(const Command &command, int argc, char *argv[])
{
    if (std::strcmp(command.name, "wifi") != 0)
        return false;
    for (int i = 2; i < argc; ++i) {
        const char *option = argv[i];
        // QCommandLineParser takes -name as --name for these commands.
        if (option[0] == '-' && option[1] == '-')
            ++option;
        for (const char *offScreen : {"-list", "-screenshot", "-connect", "-help", "-h"}) {
            const size_t length = std::strlen(offScreen);
            if (std::strncmp(option, offScreen, length) == 0 && (option[length] == '\0' || option[length] == '='))
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // DLLs come from the program's folder and the system folder only, never from the working folder
    // or PATH, where anyone may have put one of the names that Qt or the module load on demand.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
#endif
    // Before the streams, which write into them until they are gone.
    std::unique_ptr<ConsoleOutput> consoleOut;
    std::unique_ptr<ConsoleOutput> consoleErr;
    QTextStream out(stdout);
    QTextStream err(stderr);
    consoleOut = ConsoleOutput::attach(out, stdout);
    consoleErr = ConsoleOutput::attach(err, stderr);
    // --verbose may stand anywhere; the commands never see it.
    bool verbose = false;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else
            args.push_back(argv[i]);
    }
    argc = int(args.size());
    args.push_back(nullptr);
    argv = args.data();
    static char versionCommand[] = "version";
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
        argv[1] = versionCommand;

    const Command *command = nullptr;
    for (const Command &candidate : kCommands)
        if (argc > 1 && std::strcmp(argv[1], candidate.name) == 0)
            command = &candidate;
    if (!command && argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return usage(out, ExitOk);
    if (!command) {
        if (argc > 1)
            err << "orvik: unknown command \"" << SafeText::printable(QString::fromLocal8Bit(argv[1])) << "\"\n";
        else
            err << "orvik: no command given\n";
        return usage(err, ExitUsage);
    }
    MessageFilter::install(verbose);
#ifndef Q_OS_WIN
    // A reader that goes away shows as a failed write (EPIPE), which orvik handles, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    // Qt's GLib event loop wakes a thread once for every event posted to it; its own loop wakes it
    // once for all that wait. Over HTTPS Qt's network thread hands on the body 4 KiB per event, so
    // with GLib the wake-ups cost about as much CPU as the copying. These commands have nothing that
    // needs GLib; a QT_NO_GLIB the user set, even empty, stands.
    if (command->bulkTransfer && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    std::unique_ptr<QCoreApplication> app;
    if (command->needsWidgets && !showsWindow(*command, argc, argv)) {
        // Rendered off screen: whatever display there is, reachable or not, plays no part.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else if (command->needsWidgets) {
#ifndef Q_OS_WIN
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            err << "orvik: " << command->name
                << " needs a display to show its window, and none is set; --list, --screenshot FILE and --connect "
                   "need none\n";
            return ExitFailure;
        }
#endif
        DisplayCheck::arm(command->name);
        app = std::make_unique<QApplication>(argc, argv);
        DisplayCheck::disarm();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("orvik"));

    QStringList arguments = CommandLine::arguments(argc);
    arguments.removeAt(1);
    arguments.first() = QStringLiteral("orvik ") + QLatin1String(command->name);
    ModuleLoader loader;
    CommandContext context{arguments, out, err, loader};
    const int status = command->run(context);
    // The module's managers live on with the process; what they still run ends here, so that no
    // thread of Qt's is inside a transfer when the process ends and takes the threads down.
    NetworkRequest::closeRunning(kExitDrainMs);
    out.flush();
    err.flush();
#ifdef Q_OS_WIN
    // ExitProcess ends the other threads first and only then tells the DLLs, which may wait for a lock
    // that an ended thread held: Qt's network thread may still be inside a TLS exchange that was just
    // closed. Everything orvik writes is written by now, so it ends without running that code.
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(status));
#endif
    return status;
}
