#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

#include <functional>

namespace ORVIK {

// What `orvik update-check` asks of the module's update checker. ORVIKUpdateChecker is an exported
// class of the module, so the code that creates it links the module; it lives in a plug-in of its
// own that orvik loads only for update checks, so orvik itself never links the module.
struct UpdateCheckRequest
{
    QString baseURL;          // the update server's base address; empty: the checker's own
    QString name;             // the description's name part; empty: the application's name
    QString currentVersion;   // the installed version to compare with
    QByteArray publicKey;     // the raw Ed25519 key descriptions must be signed with; empty: none
    QString downloadFolder;   // not empty: download and verify an offered update into this folder
    bool install = false;     // and then start it
    int stallSeconds = 0;     // > 0: a download that gets no byte for this long fails
    int deadlineSeconds = 0;  // > 0: a download that takes longer than this in all fails
    QString versionStorePath; // the file of verified versions; empty: the user's own
    // Called as the download advances, and once more at its end with success or failure.
    std::function<void(qint64 received, qint64 total)> progress;
    std::function<void(bool success, qint64 received, qint64 total)> progressEnd;
    // The message (ErrorLine adds the prefix) that says why a request to the address failed, as every command says it.
    std::function<QString(const QString &reason, const QString &address)> describeFailure;
};

// Runs one check to its end through the installed access manager and prints the outcome: up to
// date (one line, exit code 0) or update available (two lines, exit code 100) on `out`, and without
// a key a warning on `err` that the answer is unverified; or the failure and its reason on `err` with
// exit code 1. An offered update is then downloaded ("downloaded: PATH") and started ("installer
// started: PATH") when the request says so, still exit code 100. Every text from the server is
// printed with its control and format characters replaced, each value cut to 200 characters.
using UpdateCheckEntry = int (*)(const UpdateCheckRequest &request, QTextStream &out, QTextStream &err);

constexpr const char *kUpdateCheckPluginName = "orvikupdate";
constexpr const char *kUpdateCheckEntrySymbol = "orvikRunUpdateCheck";

} // namespace ORVIK
