#pragma once

#include "host/widgets/networkrequestsettings.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace ORVIK {

// The options that `orvik get` and `orvik put` share, and the request settings they give.
class TransferOptions
{
public:
    void addTo(QCommandLineParser &parser) const;
    // Reads the parsed values; on a bad value prints one line to `err` and returns false.
    bool read(const QCommandLineParser &parser, QTextStream &err);
    // The host's description of a request to `url`, as a host would fill it.
    NetworkRequestSettings settings(const QString &url) const;

    bool insecure = false;
    int timeoutSeconds = 0; // 0: no time-out
    QString user;
    QString password;
    uint16_t port = NetworkRequestSettings::kNoPort;
};

} // namespace ORVIK
