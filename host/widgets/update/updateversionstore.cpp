#include "host/widgets/update/updateversionstore.h"

#include "host/widgets/qstringstream.h"
#include "host/widgets/update/filelock.h"
#include "host/widgets/update/regularfile.h"
#include "host/widgets/update/updateversion.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace ORVIK {

namespace {

constexpr const char *kFileName = "verified-versions.json";

// The reason a memory that cannot be used gives: what is wrong, and what the user can do about it.
QString unusable(const QString &path, const QString &why, const QString &mend)
{
    return QStringLiteral("The memory of verified update versions %1 cannot be used (%2), so no update is "
                          "trusted: %3")
        .arg(QDir::toNativeSeparators(path), why, mend);
}

QString readMend(RegularFile::Problem problem)
{
    switch (problem) {
    case RegularFile::Problem::Denied:
        return QStringLiteral("give this user read and write permission on it, or remove it");
    case RegularFile::Problem::Folder:
    case RegularFile::Problem::NotRegular:
        return QStringLiteral("remove what is there; the file is made again at the next verified check");
    case RegularFile::Problem::TooLarge:
        return QStringLiteral("a file of versions is a few lines: remove it, or remove the products no longer "
                              "checked from it");
    default:
        return QStringLiteral("make it a readable file of this user's, or remove it");
    }
}

// The products and versions of the text; empty, with a warning, when it is not a JSON object of them.
QJsonObject parseVersions(const QByteArray &text, const QString &path)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    bool valid = error.error == QJsonParseError::NoError && document.isObject();
    const QJsonObject versions = document.object();
    for (auto it = versions.begin(); valid && it != versions.end(); ++it)
        valid = it.value().isString() && UpdateVersion::IsValid(StringStream<QString>::toString(it.value().toString()));
    if (!valid) {
        qWarning("The file of verified update versions %s is damaged; it is ignored", qPrintable(path));
        return QJsonObject();
    }
    return versions;
}

} // namespace

QString UpdateVersionStore::DefaultPath()
{
    return QDir(StateFolder()).filePath(QStringLiteral("orvik/") + QLatin1String(kFileName));
}

UpdateVersionStore::UpdateVersionStore(const QString &path) : m_path(path)
{}

String UpdateVersionStore::highest(const String &product, QString *reason)
{
    String kept;
    QString why;
    // A version no text is below: only read, never written.
    if (admit(product, "0", false, &kept, &why) == Outcome::Unusable && reason)
        *reason = why;
    return kept;
}

UpdateVersionStore::Outcome UpdateVersionStore::admit(const String &product, const String &version, bool remember,
                                                      String *kept, QString *reason)
{
    *kept = String();
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *reason = unusable(m_path, QStringLiteral("its folder cannot be made"),
                           QStringLiteral("make the folder %1, writable for this user").arg(folder));
        return Outcome::Unusable;
    }
    FileLock lock;
    QString why;
    if (!lock.lock(lockPath(), m_lockWaitMs, &why)) {
        *reason = unusable(m_path, why,
                           why.startsWith(QLatin1String("another process"))
                               ? QStringLiteral("let the other update check end, or end it, and check again")
                               : QStringLiteral("make the folder %1 writable for this user, and %2 a regular file")
                                     .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(lockPath())));
        return Outcome::Unusable;
    }
    RegularFile::Problem problem = RegularFile::Problem::None;
    const QByteArray text = RegularFile::Read(m_path, kMaxBytes, &problem, &why);
    if (problem != RegularFile::Problem::None && problem != RegularFile::Problem::Missing) {
        *reason = unusable(m_path, why, readMend(problem));
        return Outcome::Unusable;
    }
    QJsonObject versions = text.isEmpty() ? QJsonObject() : parseVersions(text, m_path);
    const QString key = StringStream<QString>::fromString(product);
    if (versions.value(key).isString())
        *kept = StringStream<QString>::toString(versions.value(key).toString());
    if (!kept->isEmpty() && UpdateVersion::Compare(version, *kept) < 0)
        return Outcome::RolledBack;
    if (!remember || (!kept->isEmpty() && UpdateVersion::Compare(version, *kept) == 0))
        return Outcome::Admitted;

    // Merged into what was read under the same lock: nothing another process wrote is lost.
    versions.insert(key, StringStream<QString>::fromString(version));
    QSaveFile file(m_path);
    const QByteArray json = QJsonDocument(versions).toJson();
    QString writeError;
    if (!file.open(QIODevice::WriteOnly) || !RegularFile::WriteAll(file, json, &writeError) ||
        !RegularFile::FlushAll(file, &writeError) || !file.commit()) {
        if (writeError.isEmpty())
            writeError = file.errorString();
        *reason = unusable(m_path, QStringLiteral("it cannot be written: %1").arg(writeError),
                           QStringLiteral("make the folder %1 writable for this user, with free space on its disk")
                               .arg(QDir::toNativeSeparators(folder)));
        return Outcome::Unusable;
    }
    return Outcome::Admitted;
}

} // namespace ORVIK
