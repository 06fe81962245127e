#include "update/orvikupdatechecker.h"

#include "host/base/exception.h"
#include "host/base/timespan.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/qterrordialog.h"

namespace ORVIK {

namespace {

String initialBaseURL()
{
    return String(kUpdateServerURL) + kDescriptionFolder;
}

} // namespace

ORVIKUpdateChecker::ORVIKUpdateChecker(const StringView &name)
    : UpdateChecker(name), updateBaseURL(initialBaseURL()), updatePageURL()
{}

ORVIKUpdateChecker::ORVIKUpdateChecker() : UpdateChecker(), updateBaseURL(initialBaseURL()), updatePageURL()
{}

ORVIKUpdateChecker::~ORVIKUpdateChecker() = default;

void ORVIKUpdateChecker::requestCheckForUpdate(const StringView &)
{
    if (!ItemDownloader::HasNetworkManager()) {
        setUpdateStatus(UpdateStatusFailed);
        return;
    }
    try {
        const String name = defaultURLPathName();
        const String address = updateBaseURL.value() + name + ".txt";
        itemDownloader = ItemDownloader::GetItemDownloader(address);
        if (!itemDownloader)
            return;

        // However often a check is requested on one downloader, its completion arrives once.
        disconnect(itemDownloader, &ItemDownloader::downloadedSignal, this,
                   &ORVIKUpdateChecker::checkForUpdateCompleteSlot);
        connect(itemDownloader, &ItemDownloader::downloadedSignal, this,
                &ORVIKUpdateChecker::checkForUpdateCompleteSlot);
        // Added on every request, so a reused downloader reports a failure once per request made.
        connect(itemDownloader, &ItemDownloader::downloadFailedSignal, this,
                [this](StringView) { setUpdateStatus(UpdateStatusFailed); });

        itemDownloader->start(TimeSpan{TimeSpan::kRelative, kDownloadTimeoutNanoseconds});
    } catch (const Exception &error) {
        itemDownloader = nullptr;
        QTErrorDialog::CreateErrorDialog(error, nullptr);
        setUpdateStatus(UpdateStatusFailed);
    }
}

void ORVIKUpdateChecker::onCheckForUpdateComplete()
{
    if (!itemDownloader)
        return;
    String text;
    StringStream<QByteArray>::toString(itemDownloader->downloadedData(), text);
    processUpdateString(text);
}

String ORVIKUpdateChecker::updateURLPage() const
{
    if (!updatePageURL.value().isEmpty())
        return updatePageURL.value();
    // defaultURLPathName() is not const in the host's interface; naming the page changes nothing.
    return String(kUpdateServerURL) + const_cast<ORVIKUpdateChecker *>(this)->defaultURLPathName() + "/";
}

} // namespace ORVIK
