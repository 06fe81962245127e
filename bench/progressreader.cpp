// A host of the transfer benchmark: loads the module as a host does and downloads one URL through
// the installed access manager, reading the body with readAll on every downloadProgressSignal and
// at the finish (the way of reading that keeps the module's read buffer bounded), into a file.
//
//   progressreader URL OUTPUT [MODULE]

#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/networkrequestsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QTextStream>

#include <memory>

using namespace ORVIK;

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "progressreader: " << message << Qt::endl;
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 && arguments.size() != 4) {
        QTextStream(stderr) << "usage: progressreader URL OUTPUT [MODULE]" << Qt::endl;
        return 2;
    }
    QLibrary module(arguments.size() == 4 ? arguments[3]
                                          : QDir(app.applicationDirPath()).filePath(QStringLiteral("ORVIKNetwork.so")));
    const auto setup = reinterpret_cast<void (*)()>(module.resolve("ORVIKNetworkSetupMetatypesForORVIK"));
    if (!setup)
        return fail(module.errorString());
    setup();

    QFile file(arguments[2]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(file.errorString());
    NetworkRequestSettings settings;
    const QByteArray url = arguments[1].toUtf8();
    settings.url = String(url.constData(), uint32_t(url.size()));
    std::unique_ptr<NetworkRequest> request(ItemDownloader::AccessManager()->createDownloadRequest(settings));
    QString error;
    bool finished = false;
    const auto drain = [&] {
        const QByteArray bytes = request->readAll();
        if (!bytes.isEmpty() && file.write(bytes) != bytes.size() && error.isEmpty())
            error = file.errorString();
    };
    QObject::connect(request.get(), &NetworkRequest::downloadProgressSignal, request.get(), drain);
    QObject::connect(request.get(), &NetworkRequest::errorOccurredSignal, request.get(), [&](StringView text) {
        if (error.isEmpty())
            error = QString::fromUtf8(text.data(), qsizetype(text.length()));
    });
    QObject::connect(request.get(), &NetworkRequest::finishedSignal, request.get(), [&] {
        drain();
        finished = true;
        QCoreApplication::quit();
    });
    request->start();
    if (!finished)
        QCoreApplication::exec();
    if (!error.isEmpty())
        return fail(error);
    return file.flush() ? 0 : fail(file.errorString());
}
