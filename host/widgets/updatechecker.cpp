#include "host/widgets/updatechecker.h"

#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/sha256.h"
#include "host/widgets/updatedownload.h"
#include "host/widgets/updatesignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace ORVIK {

namespace {

const String kMalformed = "Malformed update description: ";

std::vector<std::string> versionComponents(const StringView &version)
{
    std::vector<std::string> components;
    std::string part;
    for (uint32_t i = 0; i <= version.length(); ++i) {
        if (i == version.length() || version[i] == '.') {
            // Leading zeros do not change a number; dropping them lets length decide size first.
            const std::size_t digit = part.find_first_not_of('0');
            components.push_back(digit == std::string::npos ? std::string() : part.substr(digit));
            part.clear();
        } else {
            part += version[i];
        }
    }
    return components;
}

int compareNumbers(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

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

bool allOf(const String &text, const char *characters)
{
    for (uint32_t i = 0; i < text.length(); ++i)
        if (!std::strchr(characters, text[i]) || text[i] == '\0')
            return false;
    return true;
}

// Why the package entries are unusable, or an empty text.
String packageEntriesError(const INIFactory &description)
{
    const String size = description.value("size");
    if (description.contains("size") && (size.isEmpty() || size.length() > 18 || !allOf(size, "0123456789")))
        return String("the size ") + quoted(size) + " is not a number of bytes";
    const String sha256 = description.value("sha256");
    if (description.contains("sha256") && (sha256.length() != 64 || !allOf(sha256, "0123456789abcdefABCDEF")))
        return String("the sha256 ") + quoted(sha256) + " is not 64 hexadecimal digits";
    return String();
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
    const String url = updateURLDownload();
    if (url.isEmpty())
        return refuseWith("The update description gives no download address");
    const String sha256 = m_description.value("sha256");
    if (!m_publicKey.isEmpty() && sha256.isEmpty())
        return refuseWith("The update description gives no sha256 of the package, so the package cannot be verified");

    const String size = m_description.value("size");
    m_actionError = String();
    m_downloadedFile.clear();
    m_downloadedDigest.clear();
    m_downloadedSize = -1;
    m_download.reset(new UpdateDownload(StringStream<QString>::fromString(url), downloadFolder(),
                                        size.isEmpty() ? -1 : std::stoll(std::string(size.data(), size.length())),
                                        QByteArray::fromHex(bytesOf(sha256))));
    if (m_stallMs > 0)
        m_download->setStallTimeout(m_stallMs);
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
        m_downloadedFile = download->filePath();
        m_downloadedSize = download->size();
        m_downloadedDigest = download->sha256();
    } else {
        m_actionError = String("The update download failed: ") + fromQt(download->error());
    }
    Q_EMIT updateDownloadFinishedSignal(success);
}

bool UpdateChecker::requestInstallUpdate(bool restartApplication)
{
    if (m_downloadedFile.isEmpty()) {
        if (m_status != UpdateStatusAvailable)
            return refuse("install");
        return refuseWith("There is no downloaded update to install: download it first");
    }
    // Checked again just before use: the file may have been changed since it was verified.
    QString readError;
    qint64 size = -1;
    const QByteArray digest = Sha256::HashFile(m_downloadedFile, &size, &readError);
    const QString path = m_downloadedFile;
    if (digest.isEmpty() || size != m_downloadedSize || digest != m_downloadedDigest) {
        m_downloadedFile.clear();
        const String why = digest.isEmpty() ? String("cannot be read: ") + fromQt(readError)
                                            : String("was changed after it was verified");
        QFile::remove(path);
        return refuseWith(String("The downloaded update ") + quoted(fromQt(path)) + " " + why +
                          "; it was removed, not started");
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess installer;
    installer.setProgram(path);
    installer.setWorkingDirectory(QFileInfo(path).absolutePath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ORVIK_UPDATE_RESTART"));
    if (restartApplication)
        environment.insert(QStringLiteral("ORVIK_UPDATE_RESTART"), QCoreApplication::applicationFilePath());
    installer.setProcessEnvironment(environment);
    if (!installer.startDetached())
        return refuseWith(String("Cannot start the update installer ") + quoted(fromQt(path)) + ": " +
                          fromQt(installer.errorString()));
    m_actionError = String();
    return true;
}

bool UpdateChecker::updateSupported() const
{
    return ItemDownloader::HasNetworkManager();
}

String UpdateChecker::updateName()
{
    return m_description.value("name");
}

String UpdateChecker::updateVersion()
{
    return m_description.value("version");
}

String UpdateChecker::updateURLPage() const
{
    return m_description.value("page");
}

String UpdateChecker::updateURLDownload()
{
    return m_description.value("url");
}

bool UpdateChecker::updateRequiresApplicationClose() const
{
    // Installing replaces the running program's files.
    return m_status == UpdateStatusAvailable;
}

INIFactory UpdateChecker::getINI()
{
    return m_description;
}

void UpdateChecker::createUpdateFile(const String &version, File file)
{
    if (!IsVersion(version))
        throw Exception(String("Cannot create an update description: ") + quoted(version) + " is not a version number");
    INIFactory description;
    description.setValue("name", defaultURLPathName());
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
    if (!m_publicKey.isEmpty()) {
        const QString unverified = UpdateSignature::CheckDescription(m_publicKey, bytesOf(text));
        if (!unverified.isEmpty())
            return failCheck(String("Unverified update description: ") + fromQt(unverified));
    }
    String error;
    const INIFactory description = INIFactory::Parse(text, &error);
    if (!error.isEmpty())
        return failCheck(kMalformed + error);
    const String version = description.value("version");
    if (description.value("name").isEmpty())
        return failCheck(kMalformed + "it gives no name");
    if (version.isEmpty())
        return failCheck(kMalformed + "it gives no version");
    if (!IsVersion(version))
        return failCheck(kMalformed + "the version " + quoted(version) + " is not a version number");
    const String packageError = packageEntriesError(description);
    if (!packageError.isEmpty())
        return failCheck(kMalformed + packageError);
    const String current = currentVersion();
    if (!IsVersion(current))
        return failCheck(String("Cannot compare versions: the application's version ") + quoted(current) +
                         " is not a version number");

    m_description = description;
    setStatus(CompareVersions(version, current) > 0 ? UpdateStatusAvailable : UpdateStatusUpToDate, String());
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

bool UpdateChecker::IsVersion(const StringView &version)
{
    bool digitSeen = false;
    for (uint32_t i = 0; i < version.length(); ++i) {
        const char c = version[i];
        if (c == '.' && !digitSeen)
            return false;
        if (c != '.' && (c < '0' || c > '9'))
            return false;
        digitSeen = c != '.';
    }
    return digitSeen;
}

int UpdateChecker::CompareVersions(const StringView &a, const StringView &b)
{
    std::vector<std::string> left = versionComponents(a);
    std::vector<std::string> right = versionComponents(b);
    const std::size_t count = std::max(left.size(), right.size());
    left.resize(count);
    right.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (const int order = compareNumbers(left[i], right[i]))
            return order;
    return 0;
}

void UpdateChecker::checkForUpdateCompleteSlot()
{
    onCheckForUpdateComplete();
}

void UpdateChecker::failCheck(const String &reason)
{
    m_description = INIFactory();
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
