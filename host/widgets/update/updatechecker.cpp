#include "host/widgets/update/updatechecker.h"

#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/update/updatedownload.h"
#include "host/widgets/update/updatefolder.h"
#include "host/widgets/update/updateversion.h"
#include "host/widgets/update/updateversionstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

namespace ORVIK {

namespace {

String quoted(const StringView &text)
{
    return String("\"") + text + "\"";
}

String fromQt(const QString &text)
{
    return StringStream<QString>::toString(text);
}

QByteArray bytesOf(const String &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

} // namespace

UpdateChecker::UpdateChecker() = default;

UpdateChecker::UpdateChecker(StringView name) : m_name(name)
{}

UpdateChecker::~UpdateChecker()
{
    // A download that outlived its checker could still move a package into place.
    if (m_download) {
        m_download->disconnect(this);
        m_download->cancel();
    }
}

void UpdateChecker::DeleteLater::operator()(QObject *object) const
{
    object->deleteLater();
}

void UpdateChecker::requestCheckForUpdate(const StringView &)
{
    failCheck("This update checker has no source of update descriptions");
}

bool UpdateChecker::requstDownloadUpdate()
{
    if (m_status != UpdateStatusAvailable)
        return refuse("download");
    if (m_download)
        return refuseWith("A download of this update is already running");
    // Nothing unverified is fetched: without a pinned key the package could be anything.
    if (m_publicKey.isEmpty() || !m_description.isVerified())
        return refuseWith("No public key is pinned, so the update cannot be verified: it is not downloaded");
    const String url = updateURLDownload();
    if (url.isEmpty())
        return refuseWith("The update description gives no download address");
    if (m_description.size() < 0)
        return refuseWith("The update description gives no size of the package, so its download could not be "
                          "bounded: it is not downloaded");
    if (m_description.sha256().isEmpty())
        return refuseWith("The update description gives no sha256 of the package, so the package cannot be verified");

    m_actionError = String();
    m_folder.reset();
    m_downloadedFile.clear();
    m_downloadedDigest.clear();
    m_downloadedSize = -1;
    m_download.reset(new UpdateDownload(StringStream<QString>::fromString(url), downloadFolder(), m_description.size(),
                                        m_description.sha256()));
    if (m_stallMs > 0)
        m_download->setStallTimeout(m_stallMs);
    if (m_deadlineMs > 0)
        m_download->setDeadline(m_deadlineMs);
    m_download->setMirrors(m_description.mirrors());
    if (m_wait)
        m_download->setWaitFunction(m_wait);
    connect(m_download.get(), &UpdateDownload::progressSignal, this, &UpdateChecker::updateDownloadProgressSignal);
    connect(m_download.get(), &UpdateDownload::finishedSignal, this, &UpdateChecker::downloadFinished);
    if (!m_download->start()) {
        const String why = fromQt(m_download->error());
        m_download.reset();
        return refuseWith(String("Cannot download the update: ") + why);
    }
    return true;
}

void UpdateChecker::downloadFinished(bool success)
{
    const std::unique_ptr<UpdateDownload, DeleteLater> download = std::move(m_download);
    if (success) {
        m_folder = download->takeFolder();
        m_downloadedFile = m_folder->heldPath();
        m_downloadedSize = download->size();
        m_downloadedDigest = download->sha256();
    } else {
        m_actionError = String("The update download failed: ") + fromQt(download->error());
    }
    Q_EMIT updateDownloadFinishedSignal(success);
}

bool UpdateChecker::requestInstallUpdate(bool restartApplication)
{
    if (!m_folder) {
        if (m_status != UpdateStatusAvailable)
            return refuse("install");
        return refuseWith("There is no downloaded update to install: download it first");
    }
    // Hashed again through the handle that holds it, which is also what is started.
    QString readError;
    qint64 size = -1;
    const QByteArray digest = m_folder->hashHeld(&size, &readError);
    const QString path = m_downloadedFile;
    if (digest.isEmpty() || size != m_downloadedSize || digest != m_downloadedDigest) {
        m_folder.reset();
        m_downloadedFile.clear();
        const String why = digest.isEmpty() ? String("cannot be read: ") + fromQt(readError)
                                            : String("was changed after it was verified");
        return refuseWith(String("The downloaded update ") + quoted(fromQt(path)) + " " + why + "; it was not started");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ORVIK_UPDATE_RESTART"));
    if (restartApplication)
        environment.insert(QStringLiteral("ORVIK_UPDATE_RESTART"), QCoreApplication::applicationFilePath());
    QString startError;
    if (!m_folder->startHeld(environment.toStringList(), &startError))
        return refuseWith(String("Cannot start the update installer ") + quoted(fromQt(path)) + ": " +
                          fromQt(startError));
    m_actionError = String();
    return true;
}

bool UpdateChecker::updateSupported() const
{
    return ItemDownloader::HasNetworkManager();
}

String UpdateChecker::updateName()
{
    return m_description.name();
}

String UpdateChecker::updateVersion()
{
    return m_description.version();
}

String UpdateChecker::updateURLPage() const
{
    return m_description.page();
}

String UpdateChecker::updateURLDownload()
{
    return m_description.url();
}

bool UpdateChecker::updateRequiresApplicationClose() const
{
    // Installing replaces the running program's files, unless the description says close=no.
    return m_status == UpdateStatusAvailable && m_description.requiresClose();
}

INIFactory UpdateChecker::getINI()
{
    return m_description.entries();
}

void UpdateChecker::createUpdateFile(const String &version, File file)
{
    if (!UpdateVersion::IsValid(version))
        throw Exception(String("Cannot create an update description: ") + quoted(version) + " is not a version number");
    INIFactory description;
    description.setValue("name", defaultURLPathName());
    description.setValue("product", defaultURLPathName());
    description.setValue("version", version);
    const String page = updateURLPage();
    if (!page.isEmpty())
        description.setValue("page", page);

    const String text = description.toText();
    QFile out(StringStream<QString>::fromString(file.path()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(text.data(), text.length()) != static_cast<qint64>(text.length()) || !out.flush())
        throw Exception(String("Cannot write the update description ") + quoted(file.path()) + ": " +
                        StringStream<QString>::toString(out.errorString()));
}

void UpdateChecker::processUpdateString(const String &text)
{
    const String product = defaultURLPathName();
    UpdateDescription description;
    UpdateDescription::Refusal refused;
    if (!UpdateDescription::Read(bytesOf(text), m_publicKey, product, &description, &refused))
        return failCheck(fromQt(refused.text()));
    const String version = description.version();
    const String current = currentVersion();
    if (!UpdateVersion::IsValid(current))
        return failCheck(String("Cannot compare versions: the application's version ") + quoted(current) +
                         " is not a version number");
    // A replayed older description is refused, whatever version the application says it has; and
    // a memory that cannot be used trusts nothing.
    UpdateVersionStore store(m_versionStorePath.isEmpty() ? UpdateVersionStore::DefaultPath() : m_versionStorePath);
    String verified;
    QString unusable;
    switch (store.admit(product, version, description.isVerified(), &verified, &unusable)) {
    case UpdateVersionStore::Outcome::RolledBack:
        return failCheck(String("Rolled-back update description: it offers ") + version + ", older than " + verified +
                         ", which was verified before for " + quoted(product));
    case UpdateVersionStore::Outcome::Unusable:
        return failCheck(fromQt(unusable));
    case UpdateVersionStore::Outcome::Admitted:
        break;
    }

    m_description = description;
    setStatus(UpdateVersion::Compare(version, current) > 0 ? UpdateStatusAvailable : UpdateStatusUpToDate, String());
}

String UpdateChecker::defaultURLPathName()
{
    return m_name.isEmpty() ? StringStream<QString>::toString(QCoreApplication::applicationName()) : m_name;
}

void UpdateChecker::onCheckForUpdateComplete()
{}

void UpdateChecker::setUpdateStatus(UpdateStatus status)
{
    setStatus(status, String());
}

QString UpdateChecker::downloadFolder() const
{
    return m_downloadFolder.isEmpty() ? QDir::tempPath() : m_downloadFolder;
}

String UpdateChecker::currentVersion() const
{
    return m_hasCurrentVersion ? m_currentVersion
                               : StringStream<QString>::toString(QCoreApplication::applicationVersion());
}

void UpdateChecker::setCurrentVersion(const StringView &version)
{
    m_currentVersion = String(version);
    m_hasCurrentVersion = true;
}

void UpdateChecker::checkForUpdateCompleteSlot()
{
    onCheckForUpdateComplete();
}

void UpdateChecker::failCheck(const String &reason)
{
    m_description = UpdateDescription();
    setStatus(UpdateStatusFailed, reason);
}

void UpdateChecker::setStatus(UpdateStatus status, const String &reason)
{
    m_failureReason = reason;
    m_status = status;
    Q_EMIT updateStatusSetSignal(status);
}

bool UpdateChecker::refuseWith(const String &reason)
{
    m_actionError = reason;
    return false;
}

bool UpdateChecker::refuse(const char *action)
{
    return refuseWith(String("There is no update to ") + action + ": no check has found a newer version");
}

} // namespace ORVIK
