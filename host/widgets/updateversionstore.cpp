#include "host/widgets/updateversionstore.h"

#include "host/widgets/qstringstream.h"
#include "host/widgets/updatechecker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace ORVIK {

namespace {

constexpr const char *kFileName = "verified-versions.json";

// The file's products and versions; empty when it is missing or damaged (with a warning then).
QJsonObject readVersions(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QJsonObject();
    // A version file is a few lines; anything much larger is not one.
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    bool valid = error.error == QJsonParseError::NoError && document.isObject();
    const QJsonObject versions = document.object();
    for (auto it = versions.begin(); valid && it != versions.end(); ++it)
        valid =
            it.value().isString() && UpdateChecker::IsVersion(StringStream<QString>::toString(it.value().toString()));
    if (!valid) {
        qWarning("The file of verified update versions %s is damaged; it is ignored", qPrintable(path));
        return QJsonObject();
    }
    return versions;
}

} // namespace

QString UpdateVersionStore::DefaultPath()
{
#ifdef Q_OS_WIN
    QString folder = qEnvironmentVariable("LOCALAPPDATA");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    QString folder = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative path is invalid there and ignored, as the XDG base directory rules say.
    if (!QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.local/state");
#endif
    return QDir(folder).filePath(QStringLiteral("orvik/") + QLatin1String(kFileName));
}

UpdateVersionStore::UpdateVersionStore(const QString &path) : m_path(path), m_versions(readVersions(path))
{}

String UpdateVersionStore::highest(const String &product) const
{
    const QJsonValue version = m_versions.value(StringStream<QString>::fromString(product));
    return version.isString() ? StringStream<QString>::toString(version.toString()) : String();
}

bool UpdateVersionStore::record(const String &product, const String &version, QString *error)
{
    const String kept = highest(product);
    if (!kept.isEmpty() && UpdateChecker::CompareVersions(kept, version) >= 0)
        return true;
    m_versions.insert(StringStream<QString>::fromString(product), StringStream<QString>::fromString(version));
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(m_path);
    const QByteArray text = QJsonDocument(m_versions).toJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
}

} // namespace ORVIK
