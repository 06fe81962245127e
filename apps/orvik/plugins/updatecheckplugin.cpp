#include "apps/orvik/plugins/updatecheckplugin.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/commandcontext.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/update/updatedescription.h"
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

// Every line orvik prints here may carry text from the server.
void printLine(QTextStream &stream, const QString &line)
{
    stream << SafeText::printable(line) << Qt::endl;
}

// One value from the server, cut so that no value can fill the screen.
QString shown(const String &value)
{
    return UpdateDescription::Cut(qtText(value));
}

int downloadUpdate(UpdateChecker &checker, const UpdateCheckRequest &request, QTextStream &out, QTextStream &err)
{
    checker.setDownloadFolder(request.downloadFolder);
    if (request.stallSeconds > 0)
        checker.setDownloadStallTimeout(request.stallSeconds * 1000);
    if (request.deadlineSeconds > 0)
        checker.setDownloadDeadline(request.deadlineSeconds * 1000);
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
        ErrorLine::print(err, qtText(checker.actionError()));
        return ExitFailure;
    }
    // The path of the verified file as its held handle names it, not as the folder was named.
    printLine(out, QStringLiteral("downloaded: ") + checker.downloadedFile());
    if (!request.install)
        return ExitUpdateAvailable;
    if (!checker.requestInstallUpdate(false)) {
        ErrorLine::print(err, qtText(checker.actionError()));
        return ExitFailure;
    }
    printLine(out, QStringLiteral("installer started: ") + checker.downloadedFile());
    return ExitUpdateAvailable;
}

void warnIfUnverified(const UpdateChecker &checker, QTextStream &err)
{
    if (!checker.updateVerified())
        ErrorLine::print(err, QStringLiteral("warning: unverified answer: without --public-key the description's "
                                             "signature is not checked"));
}

int runUpdateCheck(const UpdateCheckRequest &request, QTextStream &out, QTextStream &err)
{
    auto checker = request.name.isEmpty() ? std::make_unique<ORVIKUpdateChecker>()
                                          : std::make_unique<ORVIKUpdateChecker>(hostText(request.name));
    const String name = checker->defaultURLPathName();
    if (!request.baseURL.isEmpty()) {
        const String base = hostText(request.baseURL);
        checker->updateBaseURL = base + kDescriptionFolder;
        // The page when the description names none.
        checker->updatePageURL = base + name + "/";
    }
    checker->setCurrentVersion(hostText(request.currentVersion));
    checker->setPublicKey(request.publicKey);
    checker->setVersionStorePath(request.versionStorePath);
    const String address = checker->updateBaseURL.value() + name + ".txt";

    // The checker keeps no failure text; its downloader (one per address) says why it failed.
    QString downloadError;
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(address);
    if (!downloader) {
        ErrorLine::print(err, QStringLiteral("update check failed: no downloader for ") + qtText(address));
        return ExitFailure;
    }
    // The module's checker starts the downloader as it is; the host bounds what it may hold.
    downloader->setBodyLimit(UpdateDescription::kMaxBytes);
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
        printLine(out, QStringLiteral("update available: %1 %2 (installed %3)")
                           .arg(shown(checker->updateName()), shown(checker->updateVersion()), request.currentVersion));
        // The description's page= comes first; the module's checker names its server's page otherwise.
        String page = checker->UpdateChecker::updateURLPage();
        if (page.isEmpty())
            page = checker->updateURLPage();
        const String download = checker->updateURLDownload();
        printLine(out, QStringLiteral("page: ") + shown(page) +
                           (download.isEmpty() ? QString() : QStringLiteral("  download: ") + shown(download)));
        warnIfUnverified(*checker, err);
        return request.downloadFolder.isEmpty() ? ExitUpdateAvailable : downloadUpdate(*checker, request, out, err);
    }
    case UpdateChecker::UpdateStatusUpToDate:
        printLine(out, QStringLiteral("up to date: %1 %2 (latest %3)")
                           .arg(shown(checker->updateName()), request.currentVersion, shown(checker->updateVersion())));
        warnIfUnverified(*checker, err);
        return ExitOk;
    default:
        break;
    }
    QString reason = qtText(checker->failureReason());
    if (reason.isEmpty() && !downloadError.isEmpty() && request.describeFailure) {
        ErrorLine::print(err, request.describeFailure(downloadError, qtText(address)));
        return 1;
    }
    if (reason.isEmpty())
        reason = downloadError;
    if (reason.isEmpty())
        reason = ended ? QStringLiteral("the check failed") : QStringLiteral("no answer within 30 s");
    ErrorLine::print(err, QStringLiteral("update check of %1 failed: %2").arg(qtText(address), reason));
    return ExitFailure;
}

} // namespace

} // namespace ORVIK

extern "C" Q_DECL_EXPORT int orvikRunUpdateCheck(const ORVIK::UpdateCheckRequest &request, QTextStream &out,
                                                 QTextStream &err)
{
    return ORVIK::runUpdateCheck(request, out, err);
}
