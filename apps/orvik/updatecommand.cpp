#include "apps/orvik/commands.h"

#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "tests/support/http/httptestserver.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace ORVIK {

namespace {

// What one check asks for.
struct UpdateCheckRequest
{
    QString baseURL;        // the update server's base address; empty: the checker's own
    QString name;           // the description's name part; empty: the application's name
    QString currentVersion; // the installed version to compare with
};

// Longer than the checker's own 10-second download time-out, which normally ends a check first.
constexpr int kGuardMilliseconds = 30000;

QString q(const String &text)
{
    return StringStream<QString>::fromString(text);
}

String s(const QString &text)
{
    return StringStream<QString>::toString(text);
}

// Runs the check to its end and prints the outcome: update available (two lines) or up to date
// (one line) on standard output and ExitOk, or the failure with its reason on standard error and
// ExitFailure. Needs the module's access manager installed.
int runUpdateCheck(CommandContext &context, const UpdateCheckRequest &request)
{
    auto checker = request.name.isEmpty() ? std::make_unique<ORVIKUpdateChecker>()
                                          : std::make_unique<ORVIKUpdateChecker>(s(request.name));
    const String name = checker->defaultURLPathName();
    if (!request.baseURL.isEmpty()) {
        const String base = s(request.baseURL);
        checker->updateBaseURL = base + ORVIKUpdateChecker::kDescriptionFolder;
        checker->updatePageURL = base + name + "/";
    }
    checker->setCurrentVersion(s(request.currentVersion));
    const String address = checker->updateBaseURL.value() + name + ".txt";

    // The checker keeps no failure text; its downloader (one per address) says why it failed.
    QString downloadError;
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(address);
    if (!downloader) {
        context.err << "orvik: update check failed: no downloader for " << q(address) << Qt::endl;
        return ExitFailure;
    }
    QObject::connect(downloader, &ItemDownloader::downloadFailedSignal, checker.get(),
                     [&downloadError](StringView text) { downloadError = q(String(text)); });

    QEventLoop loop;
    bool ended = false;
    QObject::connect(checker.get(), &UpdateChecker::updateStatusSetSignal, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(kGuardMilliseconds, &loop, &QEventLoop::quit);
    checker->requestCheckForUpdate("orvik update-check");
    if (!ended)
        loop.exec();

    switch (checker->updateStatus()) {
    case UpdateChecker::UpdateStatusAvailable: {
        context.out << "update available: " << q(checker->updateName()) << ' ' << q(checker->updateVersion())
                    << " (installed " << request.currentVersion << ")\n";
        const String download = checker->updateURLDownload();
        context.out << "page: " << q(checker->updateURLPage());
        if (!download.isEmpty())
            context.out << "  download: " << q(download);
        context.out << Qt::endl;
        return ExitOk;
    }
    case UpdateChecker::UpdateStatusUpToDate:
        context.out << "up to date: " << q(checker->updateName()) << ' ' << request.currentVersion << " (latest "
                    << q(checker->updateVersion()) << ")" << Qt::endl;
        return ExitOk;
    default:
        break;
    }
    QString reason = q(checker->failureReason());
    if (reason.isEmpty())
        reason = downloadError;
    if (reason.isEmpty())
        reason = ended ? QStringLiteral("the check failed") : QStringLiteral("no answer within 30 s");
    context.err << "orvik: update check of " << q(address) << " failed: " << reason << Qt::endl;
    return ExitFailure;
}

} // namespace

int demoUpdateCheck(CommandContext &context)
{
    // A loopback update server that offers version 1.1.0 of "orvik-demo".
    HttpTestServer server;
    if (!server.listen()) {
        context.err << "orvik: cannot start the loopback update server: " << server.errorString() << Qt::endl;
        return ExitFailure;
    }
    HttpTestServer::Route description;
    description.body = "# orvik demo update\r\nname=ORVIK Demo\r\nversion=1.1.0\r\nurl=" +
                       server.url(QStringLiteral("/downloads/orvik-demo-1.1.0.exe")).toEncoded() + "\r\n";
    server.setRoute("/Update/Windows/orvik-demo.txt", description);

    UpdateCheckRequest request;
    request.baseURL = server.url().toString();
    request.name = QStringLiteral("orvik-demo");
    request.currentVersion = QStringLiteral("1.0.0");
    context.out << "update server: " << request.baseURL << ", installed version " << request.currentVersion << Qt::endl;
    const int code = runUpdateCheck(context, request);
    if (code == ExitOk && server.requestCount() == 1)
        context.out << "requested: " << server.request(0).method << ' ' << server.request(0).target << Qt::endl;
    return code;
}

int runUpdateCheckCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetch URL + \"Update/Windows/\" + NAME + \".txt\" from the update server and compare the version it\n"
        "offers with the installed one. Exit code 0: an update is available or the application is up to date;\n"
        "1: the check failed."));
    context.addCommonOptions(parser);
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("Base address of the update server, ending in \"/\" (default: %1).")
                                      .arg(QString::fromLatin1(ORVIKUpdateChecker::kUpdateServerURL.data())),
                                  QStringLiteral("URL"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("Name part of the description file (default: the application's "
                                                 "name, \"%1\").")
                                      .arg(QCoreApplication::applicationName()),
                                  QStringLiteral("NAME"));
    const QCommandLineOption current(
        QStringLiteral("current"),
        QStringLiteral("Installed version to compare with (default: %1).").arg(QStringLiteral(ORVIK_VERSION)),
        QStringLiteral("VERSION"));
    parser.addOptions({base, name, current});
    if (!context.parse(parser))
        return ExitUsage;
    if (parser.isSet(base) && !parser.value(base).endsWith(QLatin1Char('/'))) {
        context.err << "orvik: --base must end in \"/\"" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(name) && parser.value(name).isEmpty()) {
        context.err << "orvik: --name must not be empty" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(current) && !UpdateChecker::IsVersion(s(parser.value(current)))) {
        context.err << "orvik: --current must be a version number such as 1.2.0" << Qt::endl;
        return ExitUsage;
    }
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;

    UpdateCheckRequest request;
    request.baseURL = parser.value(base);
    request.name = parser.value(name);
    request.currentVersion = parser.isSet(current) ? parser.value(current) : QStringLiteral(ORVIK_VERSION);
    return runUpdateCheck(context, request);
}

} // namespace ORVIK
