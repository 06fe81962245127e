#include "apps/orvik/commands.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/optionvalues.h"
#include "apps/orvik/cli/terminal.h"
#include "apps/orvik/plugins/updatecheckplugin.h"
#include "apps/orvik/transfer/failuretext.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/update/regularfile.h"
#include "host/widgets/update/updatechecker.h"
#include "host/widgets/update/updatedownload.h"
#include "host/widgets/update/updatesignature.h"
#include "host/widgets/update/updateversion.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

namespace ORVIK {

namespace {

// A key file is a line or a PEM block; a larger file is not one.
constexpr qint64 kMaxKeyFileBytes = 64 * 1024;

} // namespace

int runUpdateCheckCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetch URL + \"Update/Windows/\" + NAME + \".txt\" from the update server and compare the version it\n"
        "offers with the installed one. Without --public-key or --public-key-file the answer is unverified.\n"
        "--download fetches an offered update into a private folder inside DIR and verifies it (it needs a\n"
        "key); --install then starts it.\n"
        "Exit codes (every outcome of this command uses this table):\n"
        "  0    up to date\n"
        "  100  update available (also when it was downloaded or its installer started)\n"
        "  1    failure: the check, the download, a verification or the memory of verified versions\n"
        "  2    usage error: a bad option, an option given twice, a key that cannot be pinned"));
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
        QStringLiteral("Accept only descriptions signed by this Ed25519 key: the base64 of the raw 32-byte key."),
        QStringLiteral("KEY"));
    const QCommandLineOption publicKeyFile(
        QStringLiteral("public-key-file"),
        QStringLiteral("Accept only descriptions signed by the one Ed25519 key in FILE: a PEM public key (as "
                       "`openssl pkey -pubout` writes it) or one line of base64 of the raw key."),
        QStringLiteral("FILE"));
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
    parser.addOptions({base, name, current, publicKey, publicKeyFile, download, install, stall, deadline});
    if (!context.parse(parser))
        return ExitUsage;
    if (const QString twice = parser.repeatedOption(); !twice.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("--%1 is given more than once").arg(twice));
        return ExitUsage;
    }
    if (parser.isSet(base) && !parser.value(base).endsWith(QLatin1Char('/'))) {
        ErrorLine::print(context.err, QStringLiteral("--base must end in \"/\""));
        return ExitUsage;
    }
    if (parser.isSet(name) && parser.value(name).isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("--name must not be empty"));
        return ExitUsage;
    }
    if (parser.isSet(current) && !UpdateVersion::IsValid(StringStream<QString>::toString(parser.value(current)))) {
        ErrorLine::print(context.err, QStringLiteral("--current must be a version number such as 1.2.0"));
        return ExitUsage;
    }
    if (parser.isSet(install) && !parser.isSet(download)) {
        ErrorLine::print(context.err, QStringLiteral("--install needs --download DIR"));
        return ExitUsage;
    }
    if (parser.isSet(download) && !QFileInfo(parser.value(download)).isDir()) {
        ErrorLine::print(context.err, QStringLiteral("--download: %1 is not a folder").arg(parser.value(download)));
        return ExitUsage;
    }
    int seconds[2] = {0, 0};
    for (const QCommandLineOption *limit : {&stall, &deadline}) {
        if (!parser.isSet(*limit))
            continue;
        // Milliseconds of a timer: at most about 24 days.
        const std::optional<qint64> value = OptionValues::wholeNumber(parser.value(*limit), 0, 2'000'000);
        if (!value) {
            ErrorLine::print(context.err, QStringLiteral("--%1 must be a whole number of seconds from 0 to 2000000")
                                              .arg(limit->names().constFirst()));
            return ExitUsage;
        }
        seconds[limit == &stall ? 0 : 1] = int(*value);
    }
    // The key is exactly what was typed, or what the one named file holds: never a file that happens
    // to bear the typed text's name.
    QByteArray key;
    if (parser.isSet(publicKey) && parser.isSet(publicKeyFile)) {
        ErrorLine::print(context.err, QStringLiteral("--public-key and --public-key-file cannot both be given"));
        return ExitUsage;
    }
    QString why;
    if (parser.isSet(publicKey)) {
        key = UpdateSignature::ParsePublicKey(parser.value(publicKey).toLatin1(), &why);
        if (key.isEmpty()) {
            ErrorLine::print(context.err, QStringLiteral("--public-key: ") + why);
            return ExitUsage;
        }
    } else if (parser.isSet(publicKeyFile)) {
        RegularFile::Problem problem = RegularFile::Problem::None;
        const QByteArray text = RegularFile::Read(parser.value(publicKeyFile), kMaxKeyFileBytes, &problem, &why);
        if (problem == RegularFile::Problem::None)
            key = UpdateSignature::ParsePublicKeyFile(text, &why);
        if (key.isEmpty()) {
            ErrorLine::print(context.err,
                             QStringLiteral("--public-key-file: %1: %2").arg(parser.value(publicKeyFile), why));
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
    if (Terminal::isTerminal(stderr)) {
        progress = std::make_shared<TransferProgress>(context.err, true);
        request.progress = [progress](qint64 done, qint64 total) { progress->update(done, total); };
        request.progressEnd = [progress](bool success, qint64 done, qint64 total) {
            if (success)
                progress->finish(done, total);
            else
                progress->abandon();
        };
    }
    request.describeFailure = [](const QString &reason, const QString &address) {
        return FailureText::describe(reason, QStringLiteral("GET"), QUrl(address));
    };
    request.baseURL = parser.value(base);
    request.name = parser.value(name);
    request.currentVersion = parser.isSet(current) ? parser.value(current) : QStringLiteral(ORVIK_VERSION);
    return context.runPlugin(kUpdateCheckPluginName, kUpdateCheckEntrySymbol, request);
}

} // namespace ORVIK
