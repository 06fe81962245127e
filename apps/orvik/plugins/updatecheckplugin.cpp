#include "apps/orvik/plugins/updatecheckplugin.h"

#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "update/orvikupdatechecker.h"

#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace ORVIK {

namespace {

// Longer than the checker's own 10-second download time-out, which normally ends a check first.
constexpr int kGuardMilliseconds = 30000;

QString qtText(const String &text)
{
    return StringStream<QString>::fromString(text);
}

String hostText(const QString &text)
{
    return StringStream<QString>::toString(text);
}

int downloadUpdate(UpdateChecker &checker, const UpdateCheckRequest &request, QTextStream &out, QTextStream &err)
{
    if (request.publicKey.isEmpty())
        err << "orvik: warning: no --public-key: the update is not verified" << Qt::endl;
    checker.setDownloadFolder(request.downloadFolder);
    if (request.stallSeconds > 0)
        checker.setDownloadStallTimeout(request.stallSeconds * 1000);
    qint64 received = 0;
    qint64 total = -1;
    QObject::connect(&checker, &UpdateChecker::updateDownloadProgressSignal, &checker, [&](qint64 done, qint64 of) {
        received = done;
        total = of;
        if (request.progress)
            request.progress(done, of);
    });
    QEventLoop loop;
    bool success = false;
    QObject::connect(&checker, &UpdateChecker::updateDownloadFinishedSignal, &loop, [&](bool ok) {
        success = ok;
        loop.quit();
    });
    if (checker.requstDownloadUpdate() && checker.isDownloading())
        loop.exec();
    if (request.progressEnd && received > 0)
        request.progressEnd(success, received, total);
    if (checker.downloadedFile().isEmpty()) {
        err << "orvik: " << qtText(checker.actionError()) << Qt::endl;
        return 1;
    }
    out << "downloaded: " << checker.downloadedFile() << Qt::endl;
    if (!request.install)
        return 0;
    if (!checker.requestInstallUpdate(false)) {
        err << "orvik: " << qtText(checker.actionError()) << Qt::endl;
        return 1;
    }
    out << "installer started: " << checker.downloadedFile() << Qt::endl;
    return 0;
}

int runUpdateCheck(const UpdateCheckRequest &request, QTextStream &out, QTextStream &err)
{
    auto checker = request.name.isEmpty() ? std::make_unique<ORVIKUpdateChecker>()
                                          : std::make_unique<ORVIKUpdateChecker>(hostText(request.name));
    const String name = checker->defaultURLPathName();
    if (!request.baseURL.isEmpty()) {
        const String base = hostText(request.baseURL);
        checker->updateBaseURL = base + kDescriptionFolder;
        checker->updatePageURL = base + name + "/";
    }
    checker->setCurrentVersion(hostText(request.currentVersion));
    checker->setPublicKey(request.publicKey);
    const String address = checker->updateBaseURL.value() + name + ".txt";

    // The checker keeps no failure text; its downloader (one per address) says why it failed.
    QString downloadError;
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(address);
    if (!downloader) {
        err << "orvik: update check failed: no downloader for " << qtText(address) << Qt::endl;
        return 1;
    }
    QObject::connect(downloader, &ItemDownloader::downloadFailedSignal, checker.get(),
                     [&downloadError](StringView text) { downloadError = qtText(String(text)); });

    QEventLoop loop;
    bool ended = false;
    QObject::connect(checker.get(), &UpdateChecker::updateStatusSetSignal, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(kGuardMilliseconds, &loop, &QEventLoop::quit);
    checker->requestCheckForUpdate("orvik update-check");
    if (!ended)
        loop.exec();

    switch (checker->updateStatus()) {
    case UpdateChecker::UpdateStatusAvailable: {
        out << "update available: " << qtText(checker->updateName()) << ' ' << qtText(checker->updateVersion())
            << " (installed " << request.currentVersion << ")\n";
        const String download = checker->updateURLDownload();
        out << "page: " << qtText(checker->updateURLPage());
        if (!download.isEmpty())
            out << "  download: " << qtText(download);
        out << Qt::endl;
        return request.downloadFolder.isEmpty() ? 0 : downloadUpdate(*checker, request, out, err);
    }
    case UpdateChecker::UpdateStatusUpToDate:
        out << "up to date: " << qtText(checker->updateName()) << ' ' << request.currentVersion << " (latest "
            << qtText(checker->updateVersion()) << ")" << Qt::endl;
        return 0;
    default:
        break;
    }
    QString reason = qtText(checker->failureReason());
    if (reason.isEmpty())
        reason = downloadError;
    if (reason.isEmpty())
        reason = ended ? QStringLiteral("the check failed") : QStringLiteral("no answer within 30 s");
    err << "orvik: update check of " << qtText(address) << " failed: " << reason << Qt::endl;
    return 1;
}

} // namespace

} // namespace ORVIK

extern "C" Q_DECL_EXPORT int orvikRunUpdateCheck(const ORVIK::UpdateCheckRequest &request, QTextStream &out,
                                                 QTextStream &err)
{
    return ORVIK::runUpdateCheck(request, out, err);
}
