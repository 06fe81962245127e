// The baseline of the transfer benchmark: the same GET and PUT as `orvik get` and `orvik put` on a
// bare QNetworkAccessManager, on Qt's own event loop as `orvik` runs its transfers. The body is read
// as Qt's documentation shows it (on every readyRead, and on the finish) and written to a save file,
// with the reply's read buffer bounded as the module bounds it: unbounded, Qt's network thread reads
// the whole body ahead of the event loop, and the baseline would measure memory traffic.
//
//   rawqt get URL OUTPUT             over HTTPS the certificate is not checked (as `orvik get --insecure`)
//   rawqt put URL FILE               the upload read from an open QFile, as Qt reads a file it is given
//   rawqt put-mapped URL FILE        the file mapped, its bytes given as a QByteArray (fromRawData)
//   rawqt put-readahead URL FILE     the file through the module's UploadFileDevice (read ahead 1 MiB)
//   rawqt put-sync URL FILE          as put-readahead, as a synchronous request: Qt's HTTP thread reads
//                                    the device itself, with no hand-over between threads per piece

#include "network/uploadfiledevice.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr qint64 kReadBufferBytes = 4 * 1024 * 1024;

int fail(const QString &message)
{
    QTextStream(stderr) << "rawqt: " << message << Qt::endl;
    return 1;
}

int runGet(QNetworkAccessManager &manager, const QUrl &url, const QString &output)
{
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    reply->setReadBufferSize(kReadBufferBytes);
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    bool writeFailed = false;
    auto drain = [&] {
        const QByteArray bytes = reply->readAll();
        if (!bytes.isEmpty() && file.write(bytes) != bytes.size())
            writeFailed = true;
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, drain);
    QObject::connect(reply, &QNetworkReply::finished, reply, [&] {
        drain();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    if (reply->error() != QNetworkReply::NoError)
        return fail(reply->errorString());
    if (writeFailed || !file.commit())
        return fail(file.errorString());
    return 0;
}

int runPut(QNetworkAccessManager &manager, const QUrl &url, const QString &mode, const QString &input)
{
    QFile file(input);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    ORVIK::UploadFileDevice readAhead(input);
    QNetworkReply *reply = nullptr;
    if (mode == QLatin1String("put-mapped")) {
        // The mapping lives in `file` until the end of this function, after the reply has finished.
        const uchar *mapped = file.map(0, file.size());
        if (mapped == nullptr)
            return fail(file.errorString());
        reply = manager.put(QNetworkRequest(url),
                            QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), file.size()));
    } else if (mode == QLatin1String("put-sync")) {
        if (!readAhead.open())
            return fail(readAhead.errorString());
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::SynchronousRequestAttribute, true);
        reply = manager.put(request, &readAhead);
        const QNetworkReply::NetworkError error = reply->error();
        const QString errorText = reply->errorString();
        delete reply;
        return error == QNetworkReply::NoError ? 0 : fail(errorText);
    } else if (mode == QLatin1String("put-readahead")) {
        if (!readAhead.open())
            return fail(readAhead.errorString());
        reply = manager.put(QNetworkRequest(url), &readAhead);
    } else {
        reply = manager.put(QNetworkRequest(url), &file);
    }
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply] { reply->readAll(); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    delete reply; // before the file and its mapping go
    if (error != QNetworkReply::NoError)
        return fail(errorText);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // `orvik get` and `orvik put` run on Qt's own event loop (apps/orvik/main.cpp); so does this.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QStringList modes{QStringLiteral("get"), QStringLiteral("put"), QStringLiteral("put-mapped"),
                            QStringLiteral("put-readahead"), QStringLiteral("put-sync")};
    if (arguments.size() != 4 || !modes.contains(arguments[1])) {
        QTextStream(stderr) << "usage: rawqt get URL OUTPUT | rawqt put|put-mapped|put-readahead|put-sync URL FILE"
                            << Qt::endl;
        return 2;
    }
    QNetworkAccessManager manager;
    const QUrl url(arguments[2], QUrl::TolerantMode);
    return arguments[1] == QLatin1String("get") ? runGet(manager, url, arguments[3])
                                                : runPut(manager, url, arguments[1], arguments[3]);
}
