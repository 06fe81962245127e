#include "apps/orvik/commands.h"

#include "apps/orvik/transfer/transferoptions.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "apps/orvik/transfer/transferrun.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace ORVIK {

namespace {

const QCommandLineOption kOutput({QStringLiteral("o"), QStringLiteral("output")},
                                 QStringLiteral("Write the body to this file (default: standard output)."),
                                 QStringLiteral("file"));

} // namespace

int runGetCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Download an address through the module (HTTP or HTTPS GET)."));
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("The address to download."));
    parser.addOption(kOutput);
    TransferOptions options;
    options.addTo(parser);
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1) {
        context.err << "orvik: get needs exactly one URL (orvik get --help)" << Qt::endl;
        return ExitUsage;
    }
    if (!options.read(parser, context.err))
        return ExitUsage;
    const QString url = parser.positionalArguments().first();
    const bool toFile = parser.isSet(kOutput);

    // The body reaches the file only when the download succeeds; a failure leaves what was there.
    QSaveFile file(parser.value(kOutput));
    QFile standardOutput;
    QIODevice *sink = &file;
    if (toFile) {
        if (!file.open(QIODevice::WriteOnly)) {
            context.err << "orvik: cannot write " << file.fileName() << ": " << file.errorString() << Qt::endl;
            return ExitFailure;
        }
    } else {
        context.out.flush();
        standardOutput.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
        sink = &standardOutput;
    }

    if (!context.loadModuleWithServices(parser))
        return ExitUsage;
    std::unique_ptr<NetworkRequest> request(
        ItemDownloader::AccessManager()->createDownloadRequest(options.settings(url)));

    TransferProgress progress(context.err, isatty(fileno(stderr)) == 1);
    TransferRun transfer(request.release(), TransferRun::Direction::Download, &progress);
    transfer.setSink(sink);
    transfer.setInsecure(options.insecure);
    transfer.setTimeoutSeconds(options.timeoutSeconds);
    if (!transfer.run()) {
        context.err << "orvik: " << transfer.error() << Qt::endl;
        return ExitFailure;
    }
    if (toFile) {
        if (!file.commit()) {
            context.err << "orvik: cannot write " << file.fileName() << ": " << file.errorString() << Qt::endl;
            return ExitFailure;
        }
        context.out << "saved " << transfer.bytesReceived() << " bytes to " << file.fileName() << Qt::endl;
    }
    return ExitOk;
}

} // namespace ORVIK
