// Bytes over the network for an update package whose transfers are cut, against its size: the first
// run's answers are cut after a fifth of what they send, `cuts` times, then trickle until its
// 12-second deadline ends it; a second run continues from what the first kept (Range and If-Range
// on a strong ETag).
//
//   resumebench [--size-mib N] [--cuts N]
//
// Prints the package size, the bytes fetched, their ratio, the requests and the wall time.
#include "host/widgets/itemdownloader.h"
#include "host/widgets/update/sha256.h"
#include "host/widgets/update/updatedownload.h"
#include "loopback/httptestserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTextStream>

using namespace ORVIK;

namespace {

// One download to its end; false when it failed.
bool runDownload(UpdateDownload &download, QTextStream &out)
{
    QEventLoop loop;
    QObject::connect(&download, &UpdateDownload::finishedSignal, &loop, &QEventLoop::quit);
    // Back-off is not what is measured here.
    download.setWaitFunction([](int) { return 0; });
    if (!download.start()) {
        out << "resumebench: " << download.error() << Qt::endl;
        return false;
    }
    loop.exec();
    return download.error().isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QCommandLineParser parser;
    const QCommandLineOption sizeOption(QStringLiteral("size-mib"), QStringLiteral("Package size in MiB."),
                                        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption cutsOption(QStringLiteral("cuts"), QStringLiteral("Cuts within the first run."),
                                        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption moduleOption(QStringLiteral("module"), QStringLiteral("The module file."),
                                          QStringLiteral("PATH"),
                                          QDir(app.applicationDirPath()).filePath(QStringLiteral("ORVIKNetwork.so")));
    parser.addOptions({sizeOption, cutsOption, moduleOption});
    parser.addHelpOption();
    parser.process(app);
    const qint64 size = parser.value(sizeOption).toLongLong() << 20;
    const int cuts = parser.value(cutsOption).toInt();
    if (size <= 0 || cuts < 0 || cuts > 3) {
        out << "resumebench: --size-mib must be above 0 and --cuts from 0 to 3" << Qt::endl;
        return 2;
    }
    QLibrary module(parser.value(moduleOption));
    const auto setup = reinterpret_cast<void (*)()>(module.resolve("ORVIKNetworkSetupMetatypesForORVIK"));
    if (!setup) {
        out << "resumebench: " << module.errorString() << Qt::endl;
        return 2;
    }
    setup();

    HttpTestServer server;
    if (!server.listen()) {
        out << "resumebench: " << server.errorString() << Qt::endl;
        return 2;
    }
    Sha256 hash;
    for (qint64 at = 0; at < size; at += 1 << 20)
        hash.addData(HttpTestServer::patternBytes(at, qMin<qint64>(1 << 20, size - at)));
    const QByteArray digest = hash.result();
    // Each answer is cut after a fifth of the package, `cuts` times; the rest come whole.
    HttpTestServer::Route route;
    route.generatedSize = size;
    route.ranges = true;
    route.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"bench\"")));
    route.dropAfter = size / 5;
    route.dropTimes = cuts;
    server.setRoute("/Orvik-bench.run", route);
    QTemporaryDir folder;
    const QString url = server.url(QStringLiteral("/Orvik-bench.run")).toString();

    QElapsedTimer clock;
    clock.start();
    qint64 fetched = 0;
    int requests = 0;
    {
        // The first run is cut `cuts` times, then trickles until its deadline ends it.
        HttpTestServer::Route slow = route;
        slow.dropAfter = -1;
        slow.pieceSize = 64 << 10;
        slow.pieceIntervalMs = 50;
        QObject::connect(&server, &HttpTestServer::requestStarted, &server, [&server, &slow, cuts](int index) {
            if (index == cuts)
                server.setRoute("/Orvik-bench.run", slow);
        });
        UpdateDownload first(url, folder.path(), size, digest);
        first.setDeadline(12000);
        runDownload(first, out);
        fetched += first.bytesFetched();
        requests += first.attempts();
        out << "first run: " << first.error() << Qt::endl;
        server.disconnect(&server);
    }
    server.setRoute("/Orvik-bench.run", [&route] {
        HttpTestServer::Route whole = route;
        whole.dropAfter = -1;
        return whole;
    }());
    UpdateDownload second(url, folder.path(), size, digest);
    const bool ok = runDownload(second, out);
    fetched += second.bytesFetched();
    requests += second.attempts();
    out << "second run: "
        << (ok ? QStringLiteral("verified, resumed from byte %1").arg(second.resumedFrom()) : second.error())
        << Qt::endl;
    out << "package: " << size << " bytes; fetched: " << fetched << " bytes ("
        << QString::number(double(fetched) / double(size), 'f', 4) << " of the size); requests: " << requests
        << "; wall: " << clock.elapsed() << " ms" << Qt::endl;
    return ok ? 0 : 1;
}
