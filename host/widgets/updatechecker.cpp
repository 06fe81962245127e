#include "host/widgets/updatechecker.h"

#include "host/base/exception.h"
#include "host/widgets/qstringstream.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
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

} // namespace

UpdateChecker::UpdateChecker() = default;

UpdateChecker::UpdateChecker(StringView name) : m_name(name)
{}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::requestCheckForUpdate(const StringView &)
{
    failCheck("This update checker has no source of update descriptions");
}

bool UpdateChecker::requstDownloadUpdate()
{
    return refuse("download");
}

bool UpdateChecker::requestInstallUpdate(bool)
{
    return refuse("install");
}

bool UpdateChecker::updateSupported() const
{
    return false;
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

bool UpdateChecker::refuse(const char *action)
{
    if (m_status != UpdateStatusAvailable) {
        m_actionError = String("There is no update to ") + action + ": no check has found a newer version";
        return false;
    }
    const String download = updateURLDownload();
    const String where = download.isEmpty() ? updateURLPage() : download;
    m_actionError = String("This application cannot ") + action + " updates itself";
    if (!where.isEmpty())
        m_actionError += String("; get the update from ") + where;
    return false;
}

} // namespace ORVIK
