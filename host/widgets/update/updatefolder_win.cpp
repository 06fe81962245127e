#include "host/widgets/update/updatefolder.h"
#include "host/widgets/update/updatefolder_p.h"

#include "host/widgets/update/sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first: these rely on its types.
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

namespace ORVIK {

using namespace UpdateFolderNames;

namespace {

HANDLE handleOf(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QString systemError(DWORD code = GetLastError())
{
    return qt_error_string(static_cast<int>(code));
}

// The SID of the user this process runs as, in a buffer of its own.
std::vector<BYTE> currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!ok)
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
    std::vector<BYTE> copy(GetLengthSid(sid));
    CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
    return copy;
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// True when the folder is owned by `user` and its DACL lets no one but the user, SYSTEM and the
// administrators write to it, rename it or change its security.
bool onlyTrustedMayWrite(HANDLE folder, PSID user)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    constexpr ACCESS_MASK kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                     FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    // A missing DACL grants everyone everything.
    bool trusted = dacl && EqualSid(owner, user);
    for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            trusted = false;
        else if (static_cast<ACE_HEADER *>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            const PSID sid = &allowed->SidStart;
            trusted = !(allowed->Mask & kWriting) || EqualSid(sid, user) || isWellKnown(sid, WinLocalSystemSid) ||
                      isWellKnown(sid, WinBuiltinAdministratorsSid);
        }
    }
    LocalFree(descriptor);
    return trusted;
}

// Opens a folder without following a link, and so that no one can rename or delete it while it is open.
HANDLE openFolder(const QString &path)
{
    const HANDLE folder = CreateFileW(wide(path), FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    if (folder != INVALID_HANDLE_VALUE && (!GetFileInformationByHandle(folder, &information) ||
                                           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                                           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(folder);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

// A virus scanner or an indexer opens a freshly written file for a moment, without sharing it: what
// fails with a sharing violation is tried again for this long.
constexpr ULONGLONG kSharingWaitMs = 5000;
constexpr DWORD kSharingRetryMs = 50;

// `attempt` until it succeeds or fails with anything but a sharing violation, or the wait is over;
// GetLastError() tells the last failure's reason.
template <typename Attempt>
bool waitingOutSharing(Attempt attempt)
{
    const ULONGLONG until = GetTickCount64() + kSharingWaitMs;
    for (;;) {
        if (attempt())
            return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) || GetTickCount64() >= until) {
            SetLastError(code);
            return false;
        }
        Sleep(kSharingRetryMs);
    }
}

// Why no folder under `parent` can be private: its volume keeps no permissions (FAT, exFAT), so a
// folder made there is open to everyone whatever was asked. Empty when it keeps them (or cannot be asked).
QString volumeError(const QString &parent)
{
    const HANDLE folder = CreateFileW(wide(QDir::toNativeSeparators(parent)), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return QString();
    DWORD flags = 0;
    wchar_t fileSystem[MAX_PATH + 1] = {};
    const bool known = GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, &flags, fileSystem,
                                                     DWORD(std::size(fileSystem)));
    CloseHandle(folder);
    if (!known || (flags & FILE_PERSISTENT_ACLS))
        return QString();
    return QStringLiteral("the folder %1 is on a %2 volume, which keeps no permissions, so no folder there can be "
                          "private to you: choose a download folder on an NTFS volume")
        .arg(QDir::toNativeSeparators(parent), QString::fromWCharArray(fileSystem));
}

// This process's environment made `wanted` ("NAME=value" entries) until this goes: a program that
// the shell starts gets the caller's environment, there is no block to hand it.
class EnvironmentSwap
{
public:
    explicit EnvironmentSwap(const QStringList &wanted)
    {
        const QProcessEnvironment current = QProcessEnvironment::systemEnvironment();
        QProcessEnvironment target;
        for (const QString &entry : wanted) {
            // A drive's current folder ("=C:=C:\\work") begins with the separator.
            const qsizetype separator = entry.indexOf(QLatin1Char('='), 1);
            if (separator > 0)
                target.insert(entry.left(separator), entry.mid(separator + 1));
        }
        for (const QString &name : target.keys())
            if (!current.contains(name) || current.value(name) != target.value(name))
                change(name, target.value(name), current);
        for (const QString &name : current.keys())
            if (!target.contains(name))
                change(name, std::nullopt, current);
    }
    ~EnvironmentSwap()
    {
        for (const auto &[name, value] : m_saved)
            SetEnvironmentVariableW(wide(name), value ? wide(*value) : nullptr);
    }
    EnvironmentSwap(const EnvironmentSwap &) = delete;
    EnvironmentSwap &operator=(const EnvironmentSwap &) = delete;

private:
    void change(const QString &name, const std::optional<QString> &value, const QProcessEnvironment &current)
    {
        m_saved.emplace_back(name, current.contains(name) ? std::optional<QString>(current.value(name)) : std::nullopt);
        SetEnvironmentVariableW(wide(name), value ? wide(*value) : nullptr);
    }

    std::vector<std::pair<QString, std::optional<QString>>> m_saved;
};

// Starts an .exe as Explorer does, so that Windows asks for elevation where its manifest (or, for an
// unmanifested installer, its name) needs it: CreateProcessW would fail there with error 740. The
// started process's handle, or null when the shell gave none.
bool startThroughShell(const QString &package, const QString &folder, const QStringList &environment, HANDLE *process,
                       QString *error)
{
    // The shell may hand the start to extensions that it reaches through COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NO_CONSOLE;
    info.lpFile = wide(package);
    info.lpDirectory = wide(folder);
    info.nShow = SW_SHOWNORMAL;
    bool started = false;
    DWORD code = ERROR_SUCCESS;
    {
        const EnvironmentSwap swap(environment);
        started = ShellExecuteExW(&info);
        code = GetLastError();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    if (!started) {
        *error = code == ERROR_CANCELLED ? QStringLiteral("the request for administrator rights was declined")
                                         : systemError(code);
        return false;
    }
    *process = info.hProcess;
    return true;
}

// Starts a program of the system folder with this command line after its name, never one of the
// same name in the package's folder or the working folder.
bool startSystemProgram(const wchar_t *name, const QString &arguments, const QString &folder,
                        const QStringList &environment, HANDLE *process, QString *error)
{
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        *error = systemError();
        return false;
    }
    const QString program =
        QString::fromWCharArray(system, int(length)) + QLatin1Char('\\') + QString::fromWCharArray(name);
    QString commandLine = QLatin1Char('"') + program + QStringLiteral("\" ") + arguments;
    QString block;
    for (const QString &entry : environment)
        block += entry + QChar(u'\0');
    block += QChar(u'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(wide(program), reinterpret_cast<wchar_t *>(commandLine.data()), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, const_cast<wchar_t *>(wide(block)),
                        wide(folder), &startup, &started)) {
        *error = systemError();
        return false;
    }
    CloseHandle(started.hThread);
    *process = started.hProcess;
    return true;
}

} // namespace

qsizetype UpdateFolder::NameBytes(const QString &name)
{
    return name.size();
}

QString UpdateFolder::placingError(const QString &name) const
{
    // " (100)" is the longest suffix that publish gives a taken name.
    const QString path = QDir::toNativeSeparators(QDir(m_path).filePath(name));
    const qsizetype longest = path.size() + 6;
    if (longest <= kMaxPathLength)
        return QString();
    return QStringLiteral("the package's path %1 could be %2 characters long, over Windows' limit of %3 for a "
                          "program it starts: choose a download folder with a shorter path")
        .arg(path)
        .arg(longest)
        .arg(kMaxPathLength);
}

std::unique_ptr<UpdateFolder> UpdateFolder::Open(const QString &parent, QString *error)
{
    if (const QString why = volumeError(parent); !why.isEmpty()) {
        *error = why;
        return nullptr;
    }
    std::vector<BYTE> user = currentUserSid();
    wchar_t *userText = nullptr;
    if (user.empty() || !ConvertSidToStringSidW(user.data(), &userText)) {
        *error = QStringLiteral("cannot tell which user runs the update: ") + systemError();
        return nullptr;
    }
    // Owned by the user; full control for the user, SYSTEM and the administrators only, inherited by
    // every file made inside; nothing inherited from the folder above (P).
    const QString userSid = QString::fromWCharArray(userText);
    LocalFree(userText);
    const QString sddl = QStringLiteral("O:%1D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)").arg(userSid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, &descriptor, nullptr)) {
        *error = QStringLiteral("cannot make the download folder's security descriptor: ") + systemError();
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    std::unique_ptr<UpdateFolder> folder;
    *error = QStringLiteral("no private folder could be made in %1").arg(QDir::toNativeSeparators(parent));
    for (int attempt = 0; !folder && attempt < kAttempts; ++attempt) {
        const QString path = QDir::toNativeSeparators(QDir(parent).filePath(folderName(attempt)));
        if (!CreateDirectoryW(wide(path), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
            *error = QStringLiteral("cannot make the folder %1: %2").arg(path, systemError());
            break;
        }
        const HANDLE handle = openFolder(path);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        if (onlyTrustedMayWrite(handle, user.data()))
            folder.reset(new UpdateFolder(QDir::fromNativeSeparators(path), reinterpret_cast<qintptr>(handle)));
        else
            CloseHandle(handle);
    }
    LocalFree(descriptor);
    if (folder)
        error->clear();
    return folder;
}

UpdateFolder::~UpdateFolder()
{
    closeHeld();
    CloseHandle(handleOf(m_folder));
}

void UpdateFolder::closeHeld()
{
    if (m_held != -1)
        CloseHandle(handleOf(m_held));
    m_held = -1;
    m_heldName.clear();
}

std::unique_ptr<QFile> UpdateFolder::createTemporary(QString *name, QString *error)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        *name = QStringLiteral(".part-") + randomSuffix();
        auto file = std::make_unique<QFile>(QDir(m_path).filePath(*name));
        // NewOnly: CREATE_NEW, never an existing file; the folder's DACL is inherited.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file;
        if (file->exists())
            continue;
        *error = QStringLiteral("cannot create a file in %1: %2").arg(m_path, file->errorString());
        return nullptr;
    }
    *error = QStringLiteral("cannot find a free file name in %1").arg(m_path);
    return nullptr;
}

void UpdateFolder::remove(const QString &name)
{
    DeleteFileW(wide(QDir::toNativeSeparators(QDir(m_path).filePath(name))));
}

std::unique_ptr<QFile> UpdateFolder::openKept(const QString &name, QString *error)
{
    const QString path = QDir::toNativeSeparators(QDir(m_path).filePath(name));
    for (int attempt = 0; attempt < 2; ++attempt) {
        // No sharing while it is open; a reparse point is opened as itself, never followed.
        const HANDLE file = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        attempt == 0 ? OPEN_ALWAYS : CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            *error = QStringLiteral("cannot open %1: %2").arg(path, systemError(code));
            // Open elsewhere: another run uses it, and it stays as it is.
            if (attempt == 0 && code != ERROR_SHARING_VIOLATION && DeleteFileW(wide(path)))
                continue;
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION information{};
        const bool plain =
            GetFileInformationByHandle(file, &information) &&
            !(information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            information.nNumberOfLinks == 1;
        if (plain) {
            const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
            auto kept = std::make_unique<QFile>();
            if (descriptor >= 0 && kept->open(descriptor, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle))
                return kept;
            if (descriptor >= 0)
                _close(descriptor);
            else
                CloseHandle(file);
            *error = QStringLiteral("cannot open %1").arg(path);
            return nullptr;
        }
        CloseHandle(file);
        *error = QStringLiteral("%1 is not a plain file of its own").arg(path);
        if (!DeleteFileW(wide(path)))
            return nullptr;
    }
    return nullptr;
}

QString UpdateFolder::publish(const QString &temporary, const QString &name, QString *error)
{
    const QString from = QDir::toNativeSeparators(QDir(m_path).filePath(temporary));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString candidate = candidateName(name, attempt);
        const QString to = QDir::toNativeSeparators(QDir(m_path).filePath(candidate));
        // Without MOVEFILE_REPLACE_EXISTING an existing file is never replaced.
        if (waitingOutSharing([&] { return MoveFileExW(wide(from), wide(to), 0) != FALSE; }))
            return candidate;
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
            *error = QStringLiteral("cannot name the package %1: %2").arg(candidate, systemError(code));
            return QString();
        }
    }
    *error = QStringLiteral("no free name for %1 in %2").arg(name, m_path);
    return QString();
}

QString UpdateFolder::heldPath() const
{
    if (m_held == -1)
        return QString();
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handleOf(m_held), buffer.data(), DWORD(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return m_path + QLatin1Char('/') + m_heldName;
        if (length < buffer.size()) {
            QString path = QString::fromWCharArray(buffer.data(), int(length));
            // The extended-length prefix that the call puts before every path.
            if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
                path = QStringLiteral("\\\\") + path.mid(8);
            else if (path.startsWith(QLatin1String("\\\\?\\")))
                path = path.mid(4);
            return QDir::fromNativeSeparators(path);
        }
        buffer.resize(length);
    }
}

bool UpdateFolder::hold(const QString &name, QString *error)
{
    closeHeld();
    // Read sharing only: while this handle is open no one can write, rename or delete the file.
    const QString path = QDir::toNativeSeparators(QDir(m_path).filePath(name));
    HANDLE file = INVALID_HANDLE_VALUE;
    waitingOutSharing([&] {
        file = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (file == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot open %1: %2").arg(name, systemError());
        return false;
    }
    m_held = reinterpret_cast<qintptr>(file);
    m_heldName = name;
    return true;
}

QByteArray UpdateFolder::hashHeld(qint64 *size, QString *error)
{
    LARGE_INTEGER start{};
    if (m_held == -1 || !SetFilePointerEx(handleOf(m_held), start, nullptr, FILE_BEGIN)) {
        *error = QStringLiteral("no package is held");
        return QByteArray();
    }
    Sha256 hash;
    QByteArray piece(kReadPiece, Qt::Uninitialized);
    *size = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handleOf(m_held), piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr)) {
            *error = systemError();
            return QByteArray();
        }
        if (read == 0)
            return hash.result();
        hash.addData(piece.constData(), read);
        *size += read;
    }
}

bool UpdateFolder::startHeld(const QStringList &environment, QString *error)
{
    if (m_held == -1) {
        *error = QStringLiteral("no package is held");
        return false;
    }
    // The held handle shares reading only, which the loader, msiexec and cmd need and are given; so
    // the file started is the one hashed.
    const QString package = QDir::toNativeSeparators(heldPath());
    const QString folder = QDir::toNativeSeparators(m_path);
    const QString quoted = QLatin1Char('"') + package + QLatin1Char('"');
    const QString suffix = QFileInfo(package).suffix().toLower();
    HANDLE process = nullptr;
    bool started = false;
    if (suffix == QLatin1String("exe"))
        started = startThroughShell(package, folder, environment, &process, error);
    else if (suffix == QLatin1String("msi"))
        started =
            startSystemProgram(L"msiexec.exe", QStringLiteral("/i ") + quoted, folder, environment, &process, error);
    // A batch script is not a program: the command interpreter runs it (/s strips the outer quotes,
    // /d skips its AutoRun commands).
    else if (suffix == QLatin1String("cmd") || suffix == QLatin1String("bat"))
        started = startSystemProgram(L"cmd.exe", QStringLiteral("/d /s /c \"") + quoted + QLatin1Char('"'), folder,
                                     environment, &process, error);
    else
        *error = QStringLiteral("Windows starts update packages of the types .exe, .msi, .cmd and .bat only, "
                                "and %1 is none of them")
                     .arg(QFileInfo(package).fileName());
    if (!started)
        return false;
    if (process) {
        // The started process gets a handle of its own to the package, which Windows closes when it
        // exits: until then no one can change, rename or delete the file, even after this program
        // has ended. An elevated process cannot be given one (its handle here lacks the right); its
        // package is held while this folder is.
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), handleOf(m_held), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        CloseHandle(process);
    }
    return true;
}

} // namespace ORVIK
