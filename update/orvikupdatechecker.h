#pragma once

#include "host/base/resource.h"
#include "host/widgets/update/updatechecker.h"
#include "module/orviknetwork_export.h"

#include <QPointer>

namespace ORVIK {

class ItemDownloader;

// The update server; descriptions live under "Update/Windows/", pages under the name part. Namespace
// constants rather than members: every member of an exported class is exported from the DLL.
inline constexpr StringView kUpdateServerURL = "https://updates.orvik.example/";
inline constexpr StringView kDescriptionFolder = "Update/Windows/";

// Fetches this application's update description from the update server through the host's
// downloader and hands the text to the host's update logic. Every failure sets status 4.
class ORVIKNETWORK_EXPORT ORVIKUpdateChecker : public UpdateChecker
{
    Q_OBJECT
public:
    // How long a fetch of the description may take.
    static constexpr int64_t kDownloadTimeoutNanoseconds = 10'000'000'000;

    explicit ORVIKUpdateChecker(const StringView &name);
    ORVIKUpdateChecker();
    ~ORVIKUpdateChecker() override;

    // Fetches updateBaseURL + defaultURLPathName() + ".txt". The argument is not used.
    void requestCheckForUpdate(const StringView &reason) override;
    // updatePageURL when set, else the server's address + defaultURLPathName() + "/".
    String updateURLPage() const override;
    void onCheckForUpdateComplete() override;

    // The folder of the description files; may point at another server.
    Resource<String> updateBaseURL;
    // When not empty, the address of the update page.
    Resource<String> updatePageURL;

private:
    // The downloader of the latest check; the host owns it.
    QPointer<ItemDownloader> itemDownloader;
};

} // namespace ORVIK
