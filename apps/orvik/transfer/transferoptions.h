#pragma once

#include "host/widgets/networkrequestsettings.h"

#include "apps/orvik/cli/commandline.h"
#include <QTextStream>
#include <QUrl>

#include <optional>

namespace ORVIK {

// The options that `orvik get` and `orvik put` share, and the request settings they give.
class TransferOptions
{
public:
    void addTo(CommandLine &parser) const;
    // Reads the address and the parsed values; on a bad one prints one line to `err` and returns false.
    bool read(const QString &address, const CommandLine &parser, QTextStream &err);
    // The host's description of the request, as a host would fill it.
    NetworkRequestSettings settings() const;
    // The address that the request goes to (with --port and --user applied), without the password: fit to print.
    QString printableAddress() const;
    // The address's host and port, for messages about the connection.
    QString printableEndpoint() const;

    QUrl url;
    bool insecure = false;
    bool silent = false;
    qint64 timeoutMs = 0;        // 0: no limit
    qint64 connectTimeoutMs = 0; // 0: no limit of its own
    QString caCertificateFile;
    QString user;
    QString password;
    std::optional<uint16_t> port; // unset: the URL's own
};

} // namespace ORVIK
