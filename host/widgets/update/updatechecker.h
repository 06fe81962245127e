#pragma once

#include "host/base/file.h"
#include "host/base/orvikstring.h"
#include "host/widgets/inifactory.h"
#include "host/widgets/orvikwidgets_export.h"
#include "host/widgets/softwareservice.h"
#include "host/widgets/update/updatedescription.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ORVIK {

class UpdateDownload;
class UpdateFolder;

// The host's update logic. A subclass fetches an update description (key=value lines: name,
// version, url, mirror, page, product, expires, size, sha256, close and a final signature) and hands it to
// processUpdateString, which verifies it against a pinned key, checks that it is this product's,
// fresh and not older than a version verified before, compares the offered version with the
// application's and sets the status. With a pinned key, the package at url can then be downloaded
// into a private folder, verified, and that very file started as the installer.
class ORVIKWIDGETS_EXPORT UpdateChecker : public QObject, public SoftwareService
{
    Q_OBJECT
public:
    enum UpdateStatus {
        UpdateStatusIdle = 0,      // no check has ended yet
        UpdateStatusChecking = 1,  // a check runs
        UpdateStatusUpToDate = 2,  // the offered version is not newer than the application's
        UpdateStatusAvailable = 3, // a newer version is offered
        UpdateStatusFailed = 4,    // the check failed
    };
    Q_ENUM(UpdateStatus)

    // The name part is the application's name, as QCoreApplication has it when asked.
    UpdateChecker();
    // The name part is the given name.
    explicit UpdateChecker(StringView name);
    ~UpdateChecker() override;

    // The order of these virtual operations is part of the host's binary interface.
    // This base has no update source: a check fails at once.
    virtual void requestCheckForUpdate(const StringView &reason);
    // Starts the download of the offered package into a private folder inside the download folder:
    // true when it began, and then exactly one updateDownloadFinishedSignal follows; false with
    // actionError() when refused: no pinned key, or a description without url, size or sha256.
    virtual bool requstDownloadUpdate();
    // Hashes the held package again and starts that file as a detached process. restartApplication
    // true sets ORVIK_UPDATE_RESTART to this program's path in the installer's environment, so that
    // it can start the application again when it is done. False with actionError() when refused.
    virtual bool requestInstallUpdate(bool restartApplication);
    // True once an access manager is installed: only then can a package be fetched.
    virtual bool updateSupported() const;
    virtual String updateName();
    virtual String updateVersion();
    // The release-notes page that the description gave, if any.
    virtual String updateURLPage() const;
    virtual String updateURLDownload();
    virtual bool updateRequiresApplicationClose() const;
    // The entries of the latest accepted description; empty before one and after a failed check.
    virtual INIFactory getINI();
    // Writes the description that an update server serves for this application at the given
    // version. Throws Exception when the version is malformed or the file cannot be written.
    virtual void createUpdateFile(const String &version, File file);
    // Parses a description and sets the status to available, up to date or failed.
    virtual void processUpdateString(const String &text);
    virtual String defaultURLPathName();
    // Called when the fetch of a description has completed; this base has nothing to read.
    virtual void onCheckForUpdateComplete();

    UpdateStatus updateStatus() const noexcept { return m_status; }
    // Emits updateStatusSetSignal on every call, also when the status does not change.
    void setUpdateStatus(UpdateStatus status);
    // Why the latest check failed, when the checker knows; empty otherwise.
    const String &failureReason() const noexcept { return m_failureReason; }
    // Why the latest download or install request was refused.
    const String &actionError() const noexcept { return m_actionError; }

    // The raw 32-byte Ed25519 key that every description must be signed with; empty: none pinned,
    // and then a check says only what an unverified description offers, and nothing is downloaded.
    void setPublicKey(const QByteArray &key) { m_publicKey = key; }
    const QByteArray &publicKey() const noexcept { return m_publicKey; }
    // The folder in which the private download folder is made; by default the system's temporary folder.
    void setDownloadFolder(const QString &folder) { m_downloadFolder = folder; }
    QString downloadFolder() const;
    // How long a download may go without a byte before it fails, and how long it may take in all.
    void setDownloadStallTimeout(int milliseconds) { m_stallMs = milliseconds; }
    void setDownloadDeadline(int milliseconds) { m_deadlineMs = milliseconds; }
    // Every wait of a download between its requests (back-off, Retry-After) goes through this; by
    // default each lasts as planned.
    void setDownloadWaitFunction(std::function<int(int plannedMs)> wait) { m_wait = std::move(wait); }
    // The file of the highest verified version per product; by default UpdateVersionStore's.
    void setVersionStorePath(const QString &path) { m_versionStorePath = path; }
    // Whether the latest accepted description was verified with the pinned key.
    bool updateVerified() const noexcept { return m_description.isVerified(); }
    bool isDownloading() const noexcept { return m_download != nullptr; }
    // The verified package of the latest successful download, for display; empty before one.
    const QString &downloadedFile() const noexcept { return m_downloadedFile; }

    // The version that a description is compared with; by default the application's version.
    String currentVersion() const;
    void setCurrentVersion(const StringView &version);

Q_SIGNALS:
    void updateStatusSetSignal(ORVIK::UpdateChecker::UpdateStatus status);
    // total: the package's size when the description gives it, otherwise the server's figure or -1.
    void updateDownloadProgressSignal(qint64 received, qint64 total);
    // The end of a download that requstDownloadUpdate began; on failure actionError() says why.
    void updateDownloadFinishedSignal(bool success);

protected Q_SLOTS:
    void checkForUpdateCompleteSlot();

protected:
    // Records why the check failed and sets the status to failed.
    void failCheck(const String &reason);

private:
    void setStatus(UpdateStatus status, const String &reason);
    bool refuse(const char *action);
    bool refuseWith(const String &reason);
    void downloadFinished(bool success);

    struct DeleteLater
    {
        void operator()(QObject *object) const;
    };

    String m_name;
    String m_currentVersion;
    bool m_hasCurrentVersion = false;
    UpdateStatus m_status = UpdateStatusIdle;
    String m_failureReason;
    String m_actionError;
    UpdateDescription m_description;
    QByteArray m_publicKey;
    QString m_downloadFolder;
    QString m_versionStorePath;
    int m_stallMs = 0;    // 0: the download's own default
    int m_deadlineMs = 0; // 0: the download's own default
    std::function<int(int)> m_wait;
    std::unique_ptr<UpdateDownload, DeleteLater> m_download;
    // Where the verified package is held open until it is started.
    std::unique_ptr<UpdateFolder> m_folder;
    QString m_downloadedFile;
    qint64 m_downloadedSize = -1;
    QByteArray m_downloadedDigest;
};

} // namespace ORVIK
