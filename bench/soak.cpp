// Soak: a long-running host's view of the module. Drives thousands of transfers through the installed
// access manager against an in-process loopback server (GETs read to the end, PUTs of bytes and of
// files, cancels, refused connections, 404s), then prints the resident memory growth per finished
// transfer and the open file descriptors before and after.
//
//   soak [--transfers N] [--module PATH]

#include "host/base/file.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/networkrequestsettings.h"
#include "loopback/httptestserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace ORVIK;

namespace {

enum class Kind { Get, NotFound, PutBytes, PutFile, Refused, CancelDownload, CancelUpload, CancelStalled, Count };

const char *kKindNames[] = {"GET read to the end", "GET 404",       "PUT of bytes",          "PUT of a file",
                            "refused connection",  "cancelled GET", "cancelled file upload", "cancelled stalled GET"};

// Size of the GET body and of the uploaded file; --body-kib sets it.
qint64 bodySize = 64 * 1024;
constexpr qint64 kLargeSize = 8 * 1024 * 1024; // long enough to be cancelled on its first progress

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    return -1;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// What the open descriptors are, by kind ("socket", "anon_inode", a file path), with their counts.
QString describeDescriptors()
{
    QMap<QString, int> kinds;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System))
        ++kinds[fd.symLinkTarget().section(QLatin1Char(':'), 0, 0)];
    QStringList parts;
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
        parts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    return parts.join(QStringLiteral(", "));
}

NetworkRequestSettings settingsFor(const QUrl &url)
{
    NetworkRequestSettings settings;
    const QByteArray text = url.toEncoded();
    settings.url = String(text.constData(), uint32_t(text.size()));
    return settings;
}

class Soak
{
public:
    Soak(NetworkAccessManager &manager, HttpTestServer &server, const QString &uploadFile, const QString &largeFile)
        : m_manager(manager), m_server(server), m_uploadFile(uploadFile), m_largeFile(largeFile)
    {
        m_bytes.resize(16 * 1024);
    }

    // Runs one transfer of the kind to its finish; false when it did not end as it should.
    bool run(Kind kind)
    {
        std::unique_ptr<NetworkRequest> request(create(kind));
        bool finished = false;
        qint64 bodyBytes = 0;
        QEventLoop loop;
        const bool cancels = kind == Kind::CancelDownload || kind == Kind::CancelUpload || kind == Kind::CancelStalled;
        bool closed = false;
        auto readBody = [&] {
            if (!closed)
                bodyBytes += request->readAll().size();
        };
        auto cancel = [&] {
            closed = true;
            request->close();
        };
        QObject::connect(request.get(), &NetworkRequest::downloadProgressSignal, &loop, [&](qint64 received) {
            readBody();
            if (kind == Kind::CancelDownload && received > 0 && !closed)
                cancel();
        });
        QObject::connect(request.get(), &NetworkRequest::uploadProgressSignal, &loop, [&](qint64 sent) {
            if (kind == Kind::CancelUpload && sent > 0 && !closed)
                cancel();
        });
        QObject::connect(request.get(), &NetworkRequest::finishedSignal, &loop, [&] {
            readBody();
            finished = true;
            loop.quit();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (kind == Kind::CancelStalled)
            QTimer::singleShot(5, request.get(), cancel);
        watchdog.start(10000);
        request->start();
        if (!finished)
            loop.exec();
        return finished && (kind != Kind::Get || bodyBytes == bodySize) && (!cancels || !request->isRunning());
    }

private:
    NetworkRequest *create(Kind kind)
    {
        switch (kind) {
        case Kind::Get:
            return m_manager.createDownloadRequest(settingsFor(m_server.url(QStringLiteral("/body"))));
        case Kind::NotFound:
            return m_manager.createDownloadRequest(settingsFor(m_server.url(QStringLiteral("/missing"))));
        case Kind::PutBytes:
            return m_manager.createDataUploadRequest(settingsFor(m_server.url(QStringLiteral("/put/bytes"))), m_bytes);
        case Kind::PutFile:
            return m_manager.createFileUploadRequest(settingsFor(m_server.url(QStringLiteral("/put/file"))),
                                                     fileOf(m_uploadFile));
        case Kind::Refused:
            return m_manager.createDownloadRequest(settingsFor(m_refused));
        case Kind::CancelDownload:
            return m_manager.createDownloadRequest(settingsFor(m_server.url(QStringLiteral("/paced"))));
        case Kind::CancelUpload:
            return m_manager.createFileUploadRequest(settingsFor(m_server.url(QStringLiteral("/put/large"))),
                                                     fileOf(m_largeFile));
        case Kind::CancelStalled:
        case Kind::Count:
            break;
        }
        return m_manager.createDownloadRequest(settingsFor(m_server.url(QStringLiteral("/stall"))));
    }

    static File fileOf(const QString &path)
    {
        const QByteArray bytes = QFile::encodeName(path);
        return File(StringView(bytes.constData(), uint32_t(bytes.size())));
    }

    NetworkAccessManager &m_manager;
    HttpTestServer &m_server;
    QString m_uploadFile;
    QString m_largeFile;
    Buffer<uint8_t> m_bytes;
    // One dead address, as a host retrying an unreachable server meets it. (Every distinct dead
    // host:port keeps a socket in Qt's connection cache until the cache expires it.)
    static inline const QUrl m_refused = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(HttpTestServer::unusedPort()));
};

bool writeFile(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(HttpTestServer::patternBytes(0, size)) == size;
}

void addRoutes(HttpTestServer &server)
{
    HttpTestServer::Route body;
    body.generatedSize = bodySize;
    server.setRoute("/body", body);
    HttpTestServer::Route paced;
    paced.generatedSize = kLargeSize;
    paced.pieceSize = 4096;
    paced.pieceIntervalMs = 2;
    server.setRoute("/paced", paced);
    HttpTestServer::Route stall;
    stall.stall = true;
    server.setRoute("/stall", stall);
    HttpTestServer::Route notFound;
    notFound.status = 404;
    server.setRoute("/missing", notFound);
    HttpTestServer::Route accepted;
    accepted.status = 201;
    for (const char *path : {"/put/bytes", "/put/file", "/put/large"})
        server.setRoute(path, accepted);
}

// Lets the client see its connections close once the server is gone, up to a bound.
void settle(int descriptors)
{
    QElapsedTimer waited;
    waited.start();
    while (openDescriptors() > descriptors && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QCommandLineParser parser;
    const QCommandLineOption transfersOption(QStringLiteral("transfers"), QStringLiteral("Transfers to run."),
                                             QStringLiteral("N"), QStringLiteral("4000"));
    const QCommandLineOption moduleOption(QStringLiteral("module"), QStringLiteral("The module file."),
                                          QStringLiteral("PATH"),
                                          QDir(app.applicationDirPath()).filePath(QStringLiteral("ORVIKNetwork.so")));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
                                        QStringLiteral("Run only transfers of this kind, 0 to 7, in the order that "
                                                       "the report lists them."),
                                        QStringLiteral("KIND"));
    const QCommandLineOption bodyOption(QStringLiteral("body-kib"),
                                        QStringLiteral("Size of each GET body and uploaded file, in KiB."),
                                        QStringLiteral("KIB"), QStringLiteral("64"));
    parser.addOptions({transfersOption, moduleOption, onlyOption, bodyOption});
    parser.addHelpOption();
    parser.process(app);
    const int transfers = parser.value(transfersOption).toInt();
    const int only = parser.isSet(onlyOption) ? parser.value(onlyOption).toInt() : -1;
    bodySize = parser.value(bodyOption).toLongLong() * 1024;
    if (transfers <= 0 || only >= int(Kind::Count) || bodySize <= 0) {
        out << "soak: --transfers and --body-kib must be above 0, --only from 0 to " << int(Kind::Count) - 1
            << Qt::endl;
        return 2;
    }

    QLibrary module(parser.value(moduleOption));
    const auto setup = reinterpret_cast<void (*)()>(module.resolve("ORVIKNetworkSetupMetatypesForORVIK"));
    if (!setup) {
        out << "soak: " << module.errorString() << Qt::endl;
        return 2;
    }
    setup();
    NetworkAccessManager *manager = ItemDownloader::AccessManager();

    QTemporaryDir dir;
    const QString uploadFile = dir.filePath(QStringLiteral("upload.bin"));
    const QString largeFile = dir.filePath(QStringLiteral("large.bin"));
    if (!dir.isValid() || !writeFile(uploadFile, bodySize) || !writeFile(largeFile, kLargeSize)) {
        out << "soak: cannot write the upload files" << Qt::endl;
        return 2;
    }

    int counts[int(Kind::Count)] = {};
    // Runs transfers of every kind in turn against a server of its own; returns the failures.
    const auto runRound = [&](int count) {
        HttpTestServer server;
        if (!server.listen()) {
            out << "soak: " << server.errorString() << Qt::endl;
            return count;
        }
        addRoutes(server);
        Soak soak(*manager, server, uploadFile, largeFile);
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            const Kind kind = Kind(only >= 0 ? only : i % int(Kind::Count));
            ++counts[int(kind)];
            if (!soak.run(kind)) {
                ++failures;
                out << "soak: transfer " << i << " (" << kKindNames[int(kind)] << ") did not end as it should"
                    << Qt::endl;
            }
            if (i % 64 == 0)
                server.clearRecords(); // the server's records are not the module's memory
        }
        return failures;
    };

    // A first round makes what lives as long as the process (Qt's HTTP thread, the shared manager);
    // the soak is measured from the state after it.
    runRound(int(Kind::Count));
    settle(0);
    const int descriptorsBefore = openDescriptors();
    const qint64 baselineKiB = residentKiB();
    std::fill(std::begin(counts), std::end(counts), 0);

    QElapsedTimer elapsed;
    elapsed.start();
    const int failures = runRound(transfers);
    const qint64 ms = elapsed.elapsed();
    const qint64 endKiB = residentKiB();
    settle(descriptorsBefore);
    const int descriptorsAfter = openDescriptors();

    out << "transfers: " << transfers << " in " << ms << " ms; failures: " << failures << '\n';
    for (int k = 0; k < int(Kind::Count); ++k)
        out << "  " << kKindNames[k] << ": " << counts[k] << '\n';
    out << "resident memory: " << baselineKiB << " KiB before, " << endKiB
        << " KiB at the end: " << QString::number(double(endKiB - baselineKiB) * 1024 / transfers, 'f', 0)
        << " bytes per finished transfer\n";
    out << "open file descriptors: " << descriptorsBefore << " before, " << descriptorsAfter << " after ("
        << describeDescriptors() << ")" << Qt::endl;
    return failures == 0 && descriptorsAfter <= descriptorsBefore ? 0 : 1;
}
