#include "apps/orvik/programfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace ORVIK {

namespace {

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
    return besideOrInstalled(QStringLiteral("ORVIKNetwork.so"), QStringLiteral(ORVIK_MODULEDIR_FROM_BINDIR));
}

QString ProgramFolders::pluginFile(const char *pluginName)
{
    return besideOrInstalled(QString::fromLatin1(pluginName) + QStringLiteral(".so"),
                             QStringLiteral(ORVIK_MODULEDIR_FROM_BINDIR "/plugins"));
}

} // namespace ORVIK
