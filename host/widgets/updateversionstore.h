#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QJsonObject>
#include <QString>

namespace ORVIK {

// The highest version this host has verified for each product, kept in a small file so that an
// older signed description, replayed, is refused whatever version the application says it has.
// A missing file holds nothing; a damaged one is ignored with a warning, never trusted, and
// replaced by the next record.
class ORVIKWIDGETS_EXPORT UpdateVersionStore
{
public:
    // $XDG_STATE_HOME/orvik/verified-versions.json (default ~/.local/state/orvik/...) on Linux,
    // %LOCALAPPDATA%\orvik\verified-versions.json on Windows.
    static QString DefaultPath();

    // Reads the file once.
    explicit UpdateVersionStore(const QString &path = DefaultPath());
    const QString &path() const noexcept { return m_path; }

    // The highest verified version of the product; empty when there is none.
    String highest(const String &product) const;
    // Remembers version when it is higher than what is kept. False, with *error, when the file
    // cannot be written.
    bool record(const String &product, const String &version, QString *error);

private:
    QString m_path;
    QJsonObject m_versions;
};

} // namespace ORVIK
