#include "apps/orvik/commands.h"

#include "apps/orvik/cli/consoleoutput.h"
#include "apps/orvik/plugins/updatecheckplugin.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/updatechecker.h"
#include "host/widgets/updatedownload.h"
#include "host/widgets/updatesignature.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

#include <unistd.h>

namespace ORVIK {

int runUpdateCheckCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetch URL + \"Update/Windows/\" + NAME + \".txt\" from the update server and compare the version it\n"
        "offers with the installed one. Without --public-key the answer is unverified. --download fetches an\n"
        "offered update into a private folder inside DIR and verifies it (it needs --public-key); --install\n"
        "then starts it. Exit code 0: an update is available, the application is up to date, or the update\n"
        "was downloaded; 1: the check, the download or a verification failed."));
    context.addCommonOptions(parser);
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("Base address of the update server, ending in \"/\" (default: %1).")
                                      .arg(QString::fromLatin1(kUpdateServerURL.data())),
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
    const QCommandLineOption publicKey(
        QStringLiteral("public-key"),
        QStringLiteral("Accept only descriptions signed by this Ed25519 key: a PEM public key file, or the base64 "
                       "of the raw 32-byte key."),
        QStringLiteral("KEY"));
    const QCommandLineOption download(QStringLiteral("download"),
                                      QStringLiteral("Download an offered update into DIR and verify it."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption install(QStringLiteral("install"),
                                     QStringLiteral("Start the downloaded update (needs --download)."));
    const QCommandLineOption stall(QStringLiteral("stall-timeout"),
                                   QStringLiteral("Fail a download that gets no byte for SECONDS (default: %1).")
                                       .arg(UpdateDownload::kDefaultStallMs / 1000),
                                   QStringLiteral("SECONDS"));
    const QCommandLineOption deadline(QStringLiteral("download-timeout"),
                                      QStringLiteral("Fail a download that takes longer than SECONDS in all "
                                                     "(default: %1).")
                                          .arg(UpdateDownload::kDefaultDeadlineMs / 1000),
                                      QStringLiteral("SECONDS"));
    parser.addOptions({base, name, current, publicKey, download, install, stall, deadline});
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
    if (parser.isSet(current) && !UpdateChecker::IsVersion(StringStream<QString>::toString(parser.value(current)))) {
        context.err << "orvik: --current must be a version number such as 1.2.0" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(install) && !parser.isSet(download)) {
        context.err << "orvik: --install needs --download DIR" << Qt::endl;
        return ExitUsage;
    }
    if (parser.isSet(download) && !QFileInfo(parser.value(download)).isDir()) {
        context.err << "orvik: --download: " << parser.value(download) << " is not a folder" << Qt::endl;
        return ExitUsage;
    }
    int seconds[2] = {0, 0};
    for (const QCommandLineOption *limit : {&stall, &deadline}) {
        bool valid = true;
        int &value = seconds[limit == &stall ? 0 : 1];
        value = parser.isSet(*limit) ? parser.value(*limit).toInt(&valid) : 0;
        // Milliseconds of a timer: at most 24 days.
        if (!valid || value < 0 || value > 2'000'000) {
            context.err << "orvik: --" << limit->names().constFirst() << " must be a whole number of seconds"
                        << Qt::endl;
            return ExitUsage;
        }
    }
    QByteArray key;
    if (parser.isSet(publicKey)) {
        QFile file(parser.value(publicKey));
        const bool isFile = file.open(QIODevice::ReadOnly);
        QString why;
        key = UpdateSignature::ParsePublicKey(isFile ? file.readAll() : parser.value(publicKey).toLatin1(), &why);
        if (key.isEmpty()) {
            context.err << "orvik: --public-key: " << why << Qt::endl;
            return ExitUsage;
        }
    }
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;

    UpdateCheckRequest request;
    request.publicKey = key;
    request.downloadFolder = parser.value(download);
    request.install = parser.isSet(install);
    request.stallSeconds = seconds[0];
    request.deadlineSeconds = seconds[1];
    // A bar on a terminal only: standard error otherwise carries one line per failure.
    std::shared_ptr<TransferProgress> progress;
    if (ConsoleOutput::isTerminal(stderr)) {
        progress = std::make_shared<TransferProgress>(context.err, true);
        request.progress = [progress](qint64 done, qint64 total) { progress->update(done, total); };
        request.progressEnd = [progress](bool success, qint64 done, qint64 total) {
            if (success)
                progress->finish(done, total);
            else
                progress->abandon();
        };
    }
    request.baseURL = parser.value(base);
    request.name = parser.value(name);
    request.currentVersion = parser.isSet(current) ? parser.value(current) : QStringLiteral(ORVIK_VERSION);
    return context.runPlugin(kUpdateCheckPluginName, kUpdateCheckEntrySymbol, request);
}

} // namespace ORVIK
