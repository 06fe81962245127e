#include "apps/orvik/cli/displaycheck.h"
#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/messagefilter.h"
#include "apps/orvik/cli/outputcheck.h"
#include "apps/orvik/cli/process.h"
#include "apps/orvik/cli/programarguments.h"
#include "apps/orvik/cli/terminal.h"
#include "apps/orvik/commands.h"
#include "host/widgets/networkrequest.h"

#include <QApplication>
#include <QCoreApplication>

#include <memory>

using namespace ORVIK;

namespace {

constexpr int kExitDrainMs = 2000;

struct Command
{
    const char *name;
    const char *summary;
    bool needsWidgets; // widgets, drawn off screen unless showsWindow says this use shows one
    bool bulkTransfer; // moves a body through Qt's network thread, a piece of a few KiB per event
    int (*run)(CommandContext &);
    bool (*showsWindow)(const QStringList &arguments); // null: never
};

const Command kCommands[] = {
    {"module", "load the module and print its registration and resources", false, false, &runModuleCommand, nullptr},
    {"demo", "run every service once against loopback peers", true, false, &runDemoCommand, nullptr},
    {"get", "download a URL through the module (-o FILE, or standard output)", false, true, &runGetCommand, nullptr},
    {"put", "upload a FILE or --data TEXT to a URL through the module", false, true, &runPutCommand, nullptr},
    {"time", "ask an NTP server for the time: transmit time, offset, delay", false, false, &runTimeCommand, nullptr},
    {"update-check", "ask the update server whether a newer version exists", false, false, &runUpdateCheckCommand,
     nullptr},
    {"update-sign", "sign an update description with an Ed25519 key", false, false, &runUpdateSignCommand, nullptr},
    {"wifi", "scan for WiFi networks and choose one in the dialog", true, false, &runWifiCommand, &wifiShowsWindow},
    {"version", "print the versions of orvik, the module and Qt (also: --version)", false, false, &runVersionCommand,
     nullptr},
};

int usage(QTextStream &stream, int exitCode)
{
    stream << "usage: orvik [options] COMMAND [options] [arguments]\n"
              "       orvik help [COMMAND]\n\ncommands:\n";
    for (const Command &command : kCommands)
        stream << "  " << QString::fromLatin1(command.name).leftJustified(14) << command.summary << '\n';
    stream << "  " << QStringLiteral("help").leftJustified(14)
           << "this text; help COMMAND: the command's options, as COMMAND --help prints them\n";
    stream << "\noptions (before or after the command):\n"
              "  --module PATH  the module file (default: beside orvik, else the installed one)\n"
              "  --verbose      also show Qt's own warnings (as does setting QT_LOGGING_RULES)\n"
              "  -h, --help     this text, or after a command its options\n"
              "  --version      the same as the version command\n"
              "\nexit codes:\n"
              "  0  the command did what was asked (update-check: the installed version is the newest)\n"
              "  100  update-check: an update is available (also when it was downloaded or started)\n"
              "  1  it failed: the network, TLS, an HTTP error status, a time-out, a file, a rejected answer\n"
              "  2  usage: an unknown command or option, a bad value, a module file that cannot be loaded\n"
              "\nenvironment:\n"
              "  http_proxy, https_proxy, all_proxy, no_proxy (and HTTPS_PROXY, ALL_PROXY, NO_PROXY)\n"
              "                    the proxies of get, put and update-check, read as curl reads them\n"
              "  TMPDIR            where temporary files go (in folders of their own)\n"
              "  QT_LOGGING_RULES  Qt's message rules; when set, Qt's own warnings show, as with --verbose\n"
              "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n"
              "                    the display on which the interactive wifi dialog opens\n"
              "  DBUS_SYSTEM_BUS_ADDRESS\n"
              "                    the system bus through which wifi reaches NetworkManager (not on Windows)\n";
    stream.flush();
    return exitCode;
}

int runCommand(int argc, char *argv[], QTextStream &out, QTextStream &err)
{
    QStringList names;
    for (const Command &candidate : kCommands)
        names.append(QString::fromLatin1(candidate.name));
    const ProgramArguments program = ProgramArguments::read(Process::arguments(argc, argv), names);
    if (program.action == ProgramArguments::Action::ShowUsage)
        return usage(out, ExitOk);
    if (program.action == ProgramArguments::Action::UsageError) {
        ErrorLine::print(err, program.error);
        return usage(err, ExitUsage);
    }
    const Command *command = nullptr;
    for (const Command &candidate : kCommands)
        if (program.command == QLatin1String(candidate.name))
            command = &candidate;
    const bool verbose = program.verbose;
    MessageFilter::install(verbose);

    // Qt's GLib event loop wakes a thread once for every event posted to it; its own loop wakes it
    // once for all that wait. Over HTTPS Qt's network thread hands on the body 4 KiB per event, so
    // with GLib the wake-ups cost about as much CPU as the copying. These commands have nothing that
    // needs GLib; a QT_NO_GLIB the user set, even empty, stands.
    if (command->bulkTransfer && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    // Qt reads no option of its own from orvik's command line: the command alone reads its arguments.
    int appArgc = 1;
    std::unique_ptr<QCoreApplication> app;
    const bool window = command->showsWindow && command->showsWindow(program.arguments);
    if (command->needsWidgets && !window) {
        // Rendered off screen: whatever display there is, reachable or not, plays no part.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(appArgc, argv);
    } else if (command->needsWidgets) {
        if (!Process::displayNamed()) {
            ErrorLine::print(err, QStringLiteral("%1 needs a display to show its window, and none is set; --list, "
                                                 "--screenshot FILE and --connect need none")
                                      .arg(QLatin1String(command->name)));
            return ExitFailure;
        }
        DisplayCheck::arm(command->name);
        app = std::make_unique<QApplication>(appArgc, argv);
        DisplayCheck::disarm();
    } else {
        app = std::make_unique<QCoreApplication>(appArgc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("orvik"));

    const QStringList arguments =
        QStringList{QStringLiteral("orvik ") + QLatin1String(command->name)} + program.arguments;
    ModuleLoader loader;
    CommandContext context{arguments, out, err, loader};
    const int status = command->run(context);
    // A command runs its own event loops, and what it deleted later from inside one (a failed
    // download's driver and request) would wait for a loop that never comes and outlive the
    // application object. No loop runs after the command: those deletions run now, before and
    // after the drain, which may close and delete later in turn.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The module's managers live on with the process; what they still run ends here, so that no
    // thread of Qt's is inside a transfer when the process ends and takes the threads down.
    NetworkRequest::closeRunning(kExitDrainMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Qt's network thread may still be inside a TLS exchange that was just closed, holding a lock that
    // unloading would wait for. Once everything orvik writes is written, it ends without unloading.
    if (Process::endsWithoutUnloading())
        Process::endNow(OutputCheck::finish(out, err, status));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    Process::prepare();
    // Before the streams, which write into them until they are gone.
    std::unique_ptr<QIODevice> consoleOut;
    std::unique_ptr<QIODevice> consoleErr;
    QTextStream out(stdout);
    QTextStream err(stderr);
    consoleOut = Terminal::attachConsole(out, stdout);
    consoleErr = Terminal::attachConsole(err, stderr);
    const int exitCode = runCommand(argc, argv, out, err);
    return OutputCheck::finish(out, err, exitCode);
}
