#include "apps/orvik/commands.h"

#include "apps/orvik/transfer/bodysink.h"
#include "apps/orvik/transfer/failuretext.h"
#include "apps/orvik/transfer/transferoptions.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "apps/orvik/transfer/transferrun.h"
#include "apps/orvik/transfer/transfersetup.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"

#include <memory>
#include <optional>

namespace ORVIK {

namespace {

const QCommandLineOption kOutput({QStringLiteral("o"), QStringLiteral("output")},
                                 QStringLiteral("Write the body to this file, replaced only when the whole body "
                                                "arrived (default, and \"-\": standard output)."),
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
    if (!options.read(parser.positionalArguments().constFirst(), parser, context.err) ||
        !TransferSetup::prepare(options, context.err))
        return ExitUsage;

    const QString output = parser.isSet(kOutput) ? parser.value(kOutput) : QStringLiteral("-");
    if (output.isEmpty()) {
        context.err << "orvik: -o needs a file name (\"-\" for standard output)" << Qt::endl;
        return ExitUsage;
    }
    BodySink sink(output);
    if (!sink.openTarget()) {
        context.err << "orvik: " << sink.message() << Qt::endl;
        return ExitFailure;
    }
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;
    std::unique_ptr<NetworkRequest> request(ItemDownloader::AccessManager()->createDownloadRequest(options.settings()));

    std::optional<TransferProgress> progress;
    if (TransferSetup::showsProgress(options, sink.toStandardOutput()))
        progress.emplace(context.err, TransferSetup::standardErrorIsTerminal());
    TransferRun transfer(request.release(), TransferRun::Direction::Download, progress ? &*progress : nullptr);
    transfer.setSink(&sink);
    TransferSetup::configure(transfer, options);
    const bool transferred = transfer.run();
    if (sink.hasFailed() || (transferred && !sink.commit())) {
        // A reader that went away wants nothing more, and no message either.
        if (!sink.brokenPipe())
            context.err << "orvik: " << sink.message() << Qt::endl;
        return ExitFailure;
    }
    if (!transferred) {
        context.err << "orvik: " << FailureText::describe(transfer.error(), QStringLiteral("GET"), options) << Qt::endl;
        return ExitFailure;
    }
    // Standard output carries only the body a script asked for.
    if (!sink.toStandardOutput() && !options.silent)
        context.err << "saved " << sink.bytesWritten() << " bytes to " << sink.targetName() << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
