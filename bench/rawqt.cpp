// The baseline of the transfer benchmark: the same GET and PUT as `orvik get` and `orvik put`,
// driven the same way (body read on each download progress and on finish, written to a save
// file; uploads streamed from an open QFile), on a bare QNetworkAccessManager.
//
//   rawqt get URL OUTPUT
//   rawqt put URL FILE

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

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
    bool writeFailed = false;
    auto drain = [&] {
        const QByteArray bytes = reply->readAll();
        if (!bytes.isEmpty() && file.write(bytes) != bytes.size())
            writeFailed = true;
    };
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, drain);
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

int runPut(QNetworkAccessManager &manager, const QUrl &url, const QString &input)
{
    QFile file(input);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QNetworkReply *reply = manager.put(QNetworkRequest(url), &file);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply] { reply->readAll(); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    if (reply->error() != QNetworkReply::NoError)
        return fail(reply->errorString());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4 || (arguments[1] != QLatin1String("get") && arguments[1] != QLatin1String("put"))) {
        QTextStream(stderr) << "usage: rawqt get URL OUTPUT | rawqt put URL FILE" << Qt::endl;
        return 2;
    }
    QNetworkAccessManager manager;
    const QUrl url(arguments[2], QUrl::TolerantMode);
    return arguments[1] == QLatin1String("get") ? runGet(manager, url, arguments[3])
                                                : runPut(manager, url, arguments[3]);
}
