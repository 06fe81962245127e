#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace ORVIK {

// The folder that update packages are downloaded into: made by the updater inside the folder that
// the host chose, writable by the user who runs the update only (and, on Windows, by SYSTEM and the
// administrators), and reached through what was opened, never again through a path that another
// user could swap. It holds the verified package open from the download to its start, and starts
// that very file.
//
// Linux: the folder is opened with O_NOFOLLOW and kept only when fstat shows a folder of this user
// that no one else may write; files in it are created, renamed, opened and started relative to that
// descriptor; the package is held by a read-only descriptor, made executable with fchmod and started
// with fexecve. Windows: the folder is made with a protected DACL that grants only this user, SYSTEM
// and the administrators, held open without delete sharing so it cannot be renamed, and the package
// is held open with FILE_SHARE_READ only, so no one can write, rename or delete it while it is
// hashed and started; the started process gets a copy of that handle, so the file stays held until
// it exits (msiexec and cmd read the package by name after they start).
class ORVIKWIDGETS_EXPORT UpdateFolder
{
public:
    static constexpr const char *kName = "orvik-updates";

    // The private folder inside parent ("orvik-updates", or a fresh "orvik-updates-XXXXXXXX" when
    // that name is taken by something that is not this user's own private folder); null, with
    // *error, when none can be had.
    static std::unique_ptr<UpdateFolder> Open(const QString &parent, QString *error);
    ~UpdateFolder();
    UpdateFolder(const UpdateFolder &) = delete;
    UpdateFolder &operator=(const UpdateFolder &) = delete;

    const QString &path() const noexcept { return m_path; }

    // How many of a name's units the file system counts against its limit on one name: UTF-16 units
    // on Windows, bytes of the local encoding elsewhere.
    static qsizetype NameBytes(const QString &name);

    // Windows starts no program whose path is longer than this (MAX_PATH less the terminating null).
    static constexpr int kMaxPathLength = 259;
    // Why a package named `name` could not be placed and started here (its path too long for Windows);
    // empty when it can.
    QString placingError(const QString &name) const;

    // A new, empty file open for writing, under a hidden name that no file had; null with *error.
    std::unique_ptr<QFile> createTemporary(QString *name, QString *error);
    void remove(const QString &name);
    // The named file open for reading and writing, made empty when missing: a file that a download
    // keeps from one run to the next. Never through a link, never a file with a second name, never
    // anything but a regular file of this user's: whatever else has the name is removed first.
    // Null with *error.
    std::unique_ptr<QFile> openKept(const QString &name, QString *error);
    // Gives a written file a final name without ever replacing a file: `name` when it is free,
    // otherwise "stem (2).ext", "stem (3).ext", ... The name given; empty, with *error, when none.
    QString publish(const QString &temporary, const QString &name, QString *error);

    // Opens the named file and holds it until this folder goes; false with *error.
    bool hold(const QString &name, QString *error);
    // Where the held file is now, asked of the handle that holds it (/proc/self/fd on Linux,
    // GetFinalPathNameByHandleW on Windows): the verified file's path even when someone renamed the
    // folder meanwhile. Empty when nothing is held.
    QString heldPath() const;
    // The SHA-256 and size of the held file, read through the handle that holds it.
    QByteArray hashHeld(qint64 *size, QString *error);
    // Starts the held file as a detached program with this environment ("NAME=value" entries), in
    // this folder; false with *error. On Windows as the shell starts it: an .exe through
    // ShellExecuteExW (which asks for elevation where the package needs it; an elevated package gets
    // the environment of the elevation service, not this one), an .msi through msiexec.exe /i and a
    // .cmd or .bat through cmd.exe, both of the system folder; other types are refused.
    bool startHeld(const QStringList &environment, QString *error);

private:
    UpdateFolder(const QString &path, qintptr handle) : m_path(path), m_folder(handle) {}
    void closeHeld();

    QString m_path;
    qintptr m_folder; // a descriptor, or a HANDLE on Windows
    qintptr m_held = -1;
    QString m_heldName;
};

} // namespace ORVIK
