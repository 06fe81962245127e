#include "apps/orvik/commands.h"
#include "apps/orvik/demo/demosteps.h"

#include "apps/orvik/transfer/transferrun.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/qstringstream.h"
#include "loopback/httptestserver.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

namespace ORVIK {

namespace {

NetworkRequestSettings settingsFor(const QUrl &url)
{
    NetworkRequestSettings settings;
    settings.url = StringStream<QString>::toString(url.toString());
    return settings;
}

// Runs one request to its end and takes it; the body, if any, lands in `body`.
bool runRequest(NetworkRequest *request, bool insecure, QByteArray *body, QTextStream &out)
{
    QBuffer sink(body);
    sink.open(QIODevice::WriteOnly);
    TransferRun transfer(request, TransferRun::Direction::Download, nullptr);
    transfer.setSink(&sink);
    transfer.setInsecure(insecure);
    transfer.setTimeoutMs(60000);
    if (transfer.run())
        return true;
    out << "   failed: " << transfer.error() << Qt::endl;
    return false;
}

bool checkReceived(const HttpTestServer &server, const QByteArray &method, const QByteArray &path,
                   const QByteArray &expected, QTextStream &out)
{
    const HttpTestServer::Request &last = server.requests().last();
    const bool same = last.method == method && last.path() == path && last.bodySize == expected.size() &&
                      last.bodySha256 == QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    out << "   server received " << last.method << ' ' << last.path() << ", " << last.bodySize << " bytes"
        << (same ? " (identical)" : " (DIFFERENT)") << Qt::endl;
    return same;
}

// Fetches what was just uploaded, to show that the server holds the same bytes.
bool downloadBack(NetworkAccessManager *manager, const QUrl &url, bool insecure, QByteArray *body, QTextStream &out)
{
    out << "-- download: GET " << url.toString() << Qt::endl;
    std::unique_ptr<NetworkRequest> get(manager->createDownloadRequest(settingsFor(url)));
    return runRequest(get.release(), insecure, body, out);
}

bool plainTransfers(NetworkAccessManager *manager, QTextStream &out)
{
    HttpTestServer server;
    if (!server.listen()) {
        out << "   cannot start the loopback server: " << server.errorString() << Qt::endl;
        return false;
    }
    out << "   loopback server at " << server.url().toString() << Qt::endl;

    const QByteArray text = "Hello from the ORVIK demo.\n";
    Buffer<uint8_t> bytes;
    bytes.resize(uint32_t(text.size()));
    std::memcpy(bytes.data(), text.constData(), size_t(text.size()));
    const QUrl url = server.url(QStringLiteral("/demo/hello.txt"));
    out << "-- upload: PUT " << text.size() << " bytes to " << url.toString() << Qt::endl;
    std::unique_ptr<NetworkRequest> put(manager->createDataUploadRequest(settingsFor(url), bytes));
    QByteArray answer;
    if (!runRequest(put.release(), false, &answer, out) || !checkReceived(server, "PUT", "/demo/hello.txt", text, out))
        return false;

    QByteArray body;
    if (!downloadBack(manager, url, false, &body, out))
        return false;
    out << "   received " << body.size() << " bytes: " << QString::fromUtf8(body).trimmed() << Qt::endl;
    return body == text;
}

bool secureTransfers(NetworkAccessManager *manager, QTextStream &out)
{
    HttpTestServer server;
    if (!server.listen(HttpTestServer::Transport::Tls)) {
        out << "   cannot start the loopback TLS server: " << server.errorString() << Qt::endl;
        return false;
    }
    QTemporaryDir dir;
    const QByteArray content = HttpTestServer::patternBytes(0, 2 * 1024 * 1024);
    const QString path = dir.filePath(QStringLiteral("blob.bin"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        out << "   cannot write a temporary file" << Qt::endl;
        return false;
    }
    file.close();

    const QUrl url = server.url(QStringLiteral("/demo/blob.bin"));
    out << "-- upload: PUT file of " << content.size() << " bytes to " << url.toString()
        << " (self-signed certificate accepted)" << Qt::endl;
    std::unique_ptr<NetworkRequest> put(
        manager->createFileUploadRequest(settingsFor(url), File(StringStream<QString>::toString(path))));
    QByteArray answer;
    if (!runRequest(put.release(), true, &answer, out) || !checkReceived(server, "PUT", "/demo/blob.bin", content, out))
        return false;

    QByteArray body;
    if (!downloadBack(manager, url, true, &body, out))
        return false;
    const bool same = body == content;
    out << "   received " << body.size() << " bytes" << (same ? " (identical)" : " (DIFFERENT)") << Qt::endl;
    return same;
}

} // namespace

int demoTransfers(CommandContext &context)
{
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    if (!manager) {
        context.out << "   no access manager is installed" << Qt::endl;
        return ExitFailure;
    }
    const bool plain = plainTransfers(manager, context.out);
    const bool secure = secureTransfers(manager, context.out);
    return plain && secure ? ExitOk : ExitFailure;
}

} // namespace ORVIK
