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

int runUpdateCheck(const UpdateCheckRequest &request, QTextStream &out, QTextStream &err)
{
    auto checker = request.name.isEmpty() ? std::make_unique<ORVIKUpdateChecker>()
                                          : std::make_unique<ORVIKUpdateChecker>(hostText(request.name));
    const String name = checker->defaultURLPathName();
    if (!request.baseURL.isEmpty()) {
        const String base = hostText(request.baseURL);
        checker->updateBaseURL = base + ORVIKUpdateChecker::kDescriptionFolder;
        checker->updatePageURL = base + name + "/";
    }
    checker->setCurrentVersion(hostText(request.currentVersion));
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
        return 0;
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
