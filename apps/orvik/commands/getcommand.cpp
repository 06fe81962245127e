#include "apps/orvik/commands.h"

#include "apps/orvik/cli/errorline.h"

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
                                 QStringLiteral("FILE"));

} // namespace

int runGetCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(
        QStringLiteral("Download URL through the module (HTTP or HTTPS GET), to FILE or to standard output.\n"
                       "An HTTP error status is a failure (exit code 1): its page is not written as the body.\n"
                       "Exit codes: 0 the download succeeded, 1 it failed, 2 usage."));
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("The http:// or https:// address to download."));
    parser.addOption(kOutput);
    TransferOptions options;
    options.addTo(parser);
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    if (parser.positionalArguments().size() != 1) {
        ErrorLine::print(context.err, QStringLiteral("get needs a URL; orvik get --help lists the options"));
        return ExitUsage;
    }
    if (!options.read(parser.positionalArguments().constFirst(), parser, context.err) ||
        !TransferSetup::prepare(options, context.err))
        return ExitUsage;

    const QString output = parser.isSet(kOutput) ? parser.value(kOutput) : QStringLiteral("-");
    if (output.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("-o needs a file name (\"-\" for standard output)"));
        return ExitUsage;
    }
    BodySink sink(output);
    if (!sink.openTarget()) {
        ErrorLine::print(context.err, sink.message());
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
            ErrorLine::print(context.err, sink.message());
        return ExitFailure;
    }
    if (!transferred) {
        ErrorLine::print(context.err, FailureText::describe(transfer.error(), QStringLiteral("GET"), options));
        return ExitFailure;
    }
    // Standard output carries only the body a script asked for.
    if (!sink.toStandardOutput() && !options.silent)
        context.err << "saved " << sink.bytesWritten() << " bytes to " << sink.targetName() << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
