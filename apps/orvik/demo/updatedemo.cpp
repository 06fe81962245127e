#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/demo/demopackage.h"
#include "apps/orvik/demo/demosteps.h"
#include "apps/orvik/plugins/updatecheckplugin.h"
#include "host/widgets/update/sha256.h"
#include "host/widgets/update/updatedescription.h"
#include "host/widgets/update/updatefolder.h"
#include "host/widgets/update/updatesignature.h"
#include "loopback/httptestserver.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QTimer>

namespace ORVIK {

namespace {

constexpr int kMarkerWaitMs = 20000;

// Runs the update plug-in with its own error stream, so that an expected refusal can be shown as such.
int runUpdate(CommandContext &context, const UpdateCheckRequest &request, QString *errors)
{
    const auto entry =
        reinterpret_cast<UpdateCheckEntry>(context.resolvePluginEntry(kUpdateCheckPluginName, kUpdateCheckEntrySymbol));
    if (!entry)
        return ExitUsage;
    QTextStream err(errors);
    return entry(request, context.out, err);
}

// Waits until the installer, a detached process, has left its marker in the folder.
bool waitForFile(const QString &path)
{
    QFileSystemWatcher watcher({QFileInfo(path).absolutePath()});
    QEventLoop loop;
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
        if (QFile::exists(path))
            loop.quit();
    });
    QTimer::singleShot(kMarkerWaitMs, &loop, &QEventLoop::quit);
    if (!QFile::exists(path))
        loop.exec();
    return QFile::exists(path);
}

} // namespace

int demoUpdateCheck(CommandContext &context)
{
    // A loopback update server that offers version 1.1.0 of "orvik-demo", signed by a key made now;
    // the package is a script that leaves a marker file.
    HttpTestServer server;
    QTemporaryDir folder;
    const QByteArray privateKey = UpdateSignature::GeneratePrivateKey();
    if (!server.listen() || !folder.isValid() || privateKey.isEmpty() || !QDir(folder.path()).mkdir("downloads")) {
        ErrorLine::print(context.err,
                         QStringLiteral("cannot set up the loopback update server: ") + server.errorString());
        return ExitFailure;
    }
    const QString marker = folder.filePath(QStringLiteral("installed"));
    const DemoPackage demoPackage = DemoPackage::leavingMarker(marker);
    const QString &packageName = demoPackage.fileName;
    const QByteArray &package = demoPackage.content;
    const QString packagePath = QStringLiteral("/downloads/") + packageName;
    Sha256 hash;
    hash.addData(package);
    const QByteArray expires = UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addDays(1)).toLatin1();
    const QByteArray description = "# orvik demo update\r\nname=ORVIK Demo\r\nproduct=orvik-demo\r\nversion=1.1.0\r\n"
                                   "expires=" +
                                   expires + "\r\nurl=" + server.url(packagePath).toEncoded() +
                                   "\r\nsize=" + QByteArray::number(package.size()) +
                                   "\r\nsha256=" + hash.result().toHex() + "\r\n";
    HttpTestServer::Route route;
    route.body = UpdateSignature::SignDescription(privateKey, description, "\r\n");
    server.setRoute("/Update/Windows/orvik-demo.txt", route);
    route.body = package;
    server.setRoute(packagePath.toUtf8(), route);

    UpdateCheckRequest request;
    request.baseURL = server.url().toString();
    request.name = QStringLiteral("orvik-demo");
    request.currentVersion = QStringLiteral("1.0.0");
    request.publicKey = UpdateSignature::PublicKeyOf(privateKey);
    request.downloadFolder = folder.filePath(QStringLiteral("downloads"));
    request.install = true;
    // The demo's verified versions are its own, not the user's.
    request.versionStorePath = folder.filePath(QStringLiteral("state/verified-versions.json"));
    context.out << "update server: " << request.baseURL << ", installed version " << request.currentVersion
                << ", descriptions signed by key " << request.publicKey.toBase64() << Qt::endl;
    QString errors;
    int code = runUpdate(context, request, &errors);
    context.err << errors;
    if (code != ExitUpdateAvailable)
        return code == ExitOk ? ExitFailure : code;
    if (server.requestCount() >= 1)
        context.out << "requested: " << server.request(0).method << ' ' << server.request(0).target << Qt::endl;
    if (!waitForFile(marker)) {
        ErrorLine::print(context.err,
                         QStringLiteral("the installer left no marker within %1 s").arg(kMarkerWaitMs / 1000));
        return ExitFailure;
    }
    context.out << "installed: the package left its marker" << Qt::endl;

    // The same description, but the server now changes one byte of the package.
    QByteArray changed = package;
    changed[package.indexOf("1.1.0")] = '9';
    route.body = changed;
    server.setRoute(packagePath.toUtf8(), route);
    QFile::remove(marker);
    errors.clear();
    code = runUpdate(context, request, &errors);
    QStringList left = QDir(request.downloadFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) +
                       QDir(request.downloadFolder + QLatin1Char('/') + QLatin1String(UpdateFolder::kName))
                           .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    // The package's lock file stays, so that every download of it locks the same file.
    left.removeIf([](const QString &name) {
        return name.startsWith(QLatin1String(".partial-")) && name.endsWith(QLatin1String(".lock"));
    });
    if (code != ExitFailure || !errors.contains(QLatin1String("SHA-256")) || QFile::exists(marker) ||
        left != QStringList{QLatin1String(UpdateFolder::kName), packageName}) {
        // What the check said, its lines joined, so that the message stays one line.
        ErrorLine::print(context.err, QStringLiteral("a changed package was not refused: ") +
                                          errors.trimmed().replace(QLatin1Char('\n'), QLatin1String(" / ")));
        return ExitFailure;
    }
    context.out << "changed package refused: " << errors.trimmed().remove(ErrorLine::prefix()) << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
