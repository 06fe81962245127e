#include "apps/orvik/programfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ORVIK {

namespace {

// Shared libraries and plug-ins carry the platform's own suffix, as CMake names it.
constexpr QLatin1StringView kLibrarySuffix(ORVIK_LIBRARY_SUFFIX);

QString besideOrInstalled(const QString &fileName, const QString &installedFolder)
{
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString beside = programFolder.filePath(fileName);
    if (QFileInfo(beside).isFile())
        return beside;
    return QDir::cleanPath(programFolder.filePath(installedFolder + QLatin1Char('/') + fileName));
}

} // namespace

QString ProgramFolders::moduleFile()
{
    return besideOrInstalled(QStringLiteral("ORVIKNetwork") + kLibrarySuffix,
                             QStringLiteral(ORVIK_MODULEDIR_FROM_BINDIR));
}

QString ProgramFolders::pluginFile(const char *pluginName)
{
    return besideOrInstalled(QString::fromLatin1(pluginName) + kLibrarySuffix,
                             QStringLiteral(ORVIK_MODULEDIR_FROM_BINDIR "/plugins"));
}

} // namespace ORVIK
