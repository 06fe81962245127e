#include "apps/orvik/commands.h"

#include "apps/orvik/cli/errorline.h"

#include "apps/orvik/transfer/failuretext.h"
#include "apps/orvik/transfer/transferoptions.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "apps/orvik/transfer/transferrun.h"
#include "apps/orvik/transfer/transfersetup.h"
#include "apps/orvik/transfer/uploadsource.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <cstring>
#include <memory>
#include <optional>

namespace ORVIK {

namespace {

const QCommandLineOption kData(QStringLiteral("data"), QStringLiteral("Upload this text instead of a file."),
                               QStringLiteral("TEXT"));

} // namespace

int runPutCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(
        QStringLiteral("Upload FILE or --data TEXT to URL through the module (HTTP or HTTPS PUT).\n"
                       "An HTTP error status is a failure (exit code 1).\n"
                       "Exit codes: 0 the upload succeeded, 1 it failed, 2 usage."));
    parser.addPositionalArgument(QStringLiteral("url"),
                                 QStringLiteral("The http:// or https:// address to upload to."));
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("The file to upload (unless --data); \"-\" is standard input."),
                                 QStringLiteral("[FILE]"));
    parser.addOption(kData);
    TransferOptions options;
    options.addTo(parser);
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    const QStringList positional = parser.positionalArguments();
    const bool withData = parser.isSet(kData);
    if (positional.size() != (withData ? 1 : 2)) {
        ErrorLine::print(
            context.err,
            QStringLiteral("put needs a URL and either a FILE or --data TEXT; orvik put --help lists the options"));
        return ExitUsage;
    }
    if (!options.read(positional.constFirst(), parser, context.err) || !TransferSetup::prepare(options, context.err))
        return ExitUsage;
    const QByteArray data = parser.value(kData).toUtf8();
    if (withData && data.isEmpty()) {
        // The module sends an empty upload as a GET, which is not what was asked for.
        ErrorLine::print(context.err, QStringLiteral("--data needs at least one byte"));
        return ExitUsage;
    }
    // Checked, and a stream read to its end, before anything is sent. Reading it is part of the
    // transfer, and of its time.
    QElapsedTimer started;
    started.start();
    UploadSource source;
    // A negative span never expires.
    if (!withData &&
        !source.prepare(positional.at(1), QDeadlineTimer(options.timeoutMs > 0 ? options.timeoutMs : -1))) {
        ErrorLine::print(context.err, source.timedOut()
                                          ? FailureText::describe(TransferRun::timeoutReason(options.timeoutMs),
                                                                  QStringLiteral("PUT"), options)
                                          : source.error());
        return ExitFailure;
    }

    if (!context.loadModuleWithServices(parser))
        return ExitUsage;
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    const NetworkRequestSettings settings = options.settings();
    std::unique_ptr<NetworkRequest> request;
    qint64 size = 0;
    if (withData) {
        Buffer<uint8_t> bytes;
        bytes.resize(uint32_t(data.size()));
        std::memcpy(bytes.data(), data.constData(), size_t(data.size()));
        size = data.size();
        request.reset(manager->createDataUploadRequest(settings, bytes));
    } else {
        size = source.size();
        request.reset(manager->createFileUploadRequest(settings, File(StringStream<QString>::toString(source.path()))));
    }

    std::optional<TransferProgress> progress;
    if (TransferSetup::showsProgress(options, false))
        progress.emplace(context.err, TransferSetup::standardErrorIsTerminal());
    TransferRun transfer(request.release(), TransferRun::Direction::Upload, progress ? &*progress : nullptr);
    TransferSetup::configure(transfer, options);
    transfer.setTimeoutMs(options.timeoutMs, started.elapsed());
    transfer.setUploadSize(size);
    if (!transfer.run()) {
        ErrorLine::print(context.err, FailureText::describe(transfer.error(), QStringLiteral("PUT"), options));
        return ExitFailure;
    }
    if (!options.silent)
        context.err << "uploaded " << size << " bytes to " << options.printableAddress() << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
