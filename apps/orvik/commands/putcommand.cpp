#include "apps/orvik/commands.h"

#include "apps/orvik/transfer/transferoptions.h"
#include "apps/orvik/transfer/transferprogress.h"
#include "apps/orvik/transfer/transferrun.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace ORVIK {

namespace {

const QCommandLineOption kData(QStringLiteral("data"), QStringLiteral("Upload this text instead of a file."),
                               QStringLiteral("text"));

} // namespace

int runPutCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Upload a file or a text to an address through the module (HTTP or HTTPS PUT)."));
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("The address to upload to."));
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The file to upload (unless --data)."),
                                 QStringLiteral("[file]"));
    parser.addOption(kData);
    TransferOptions options;
    options.addTo(parser);
    context.addCommonOptions(parser);
    if (!context.parse(parser))
        return ExitUsage;
    const QStringList positional = parser.positionalArguments();
    const bool withData = parser.isSet(kData);
    if (positional.size() != (withData ? 1 : 2)) {
        context.err << "orvik: put needs a URL and either a FILE or --data TEXT (orvik put --help)" << Qt::endl;
        return ExitUsage;
    }
    if (!options.read(parser, context.err))
        return ExitUsage;
    const QByteArray data = parser.value(kData).toUtf8();
    if (withData && data.isEmpty()) {
        // The module sends an empty upload as a GET, which is not what was asked for.
        context.err << "orvik: --data needs at least one byte" << Qt::endl;
        return ExitUsage;
    }

    if (!context.loadModuleWithServices(parser))
        return ExitUsage;
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    const NetworkRequestSettings settings = options.settings(positional.first());
    std::unique_ptr<NetworkRequest> request;
    qint64 size = 0;
    if (withData) {
        Buffer<uint8_t> bytes;
        bytes.resize(uint32_t(data.size()));
        std::memcpy(bytes.data(), data.constData(), size_t(data.size()));
        size = data.size();
        request.reset(manager->createDataUploadRequest(settings, bytes));
    } else {
        const QString path = positional.at(1);
        size = QFileInfo(path).size();
        request.reset(manager->createFileUploadRequest(settings, File(StringStream<QString>::toString(path))));
    }

    TransferProgress progress(context.err, isatty(fileno(stderr)) == 1);
    TransferRun transfer(request.release(), TransferRun::Direction::Upload, &progress);
    transfer.setInsecure(options.insecure);
    transfer.setTimeoutSeconds(options.timeoutSeconds);
    if (!transfer.run()) {
        context.err << "orvik: " << transfer.error() << Qt::endl;
        return ExitFailure;
    }
    context.out << "uploaded " << size << " bytes to " << positional.first() << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
