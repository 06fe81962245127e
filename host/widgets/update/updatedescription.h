#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/inifactory.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace ORVIK {

// One update description, read and checked once: its typed entries, or the reason it is refused.
// The text is key=value lines (name, version, url, page, product, expires, size, sha256, close, and
// any number of mirror= lines: further addresses of the same package, tried in order after url=)
// and, when signed, a last line "signature=" over every byte before it, mirror lines included.
class ORVIKWIDGETS_EXPORT UpdateDescription
{
public:
    // A longer text is refused; a downloader of descriptions stops at this many bytes.
    static constexpr qsizetype kMaxBytes = 64 * 1024;
    // The longest a description may be believed: an expires= further ahead of the reader's clock
    // is refused.
    static constexpr int kMaxExpiresDays = 366;
    // Characters of one value from the server that a reason or a printed line shows.
    static constexpr int kMaxShownCharacters = 200;
    // mirror= lines that a description may give.
    static constexpr int kMaxMirrors = 8;

    // Why a description is refused: what kind of refusal, and what about this text.
    struct ORVIKWIDGETS_EXPORT Refusal
    {
        enum Kind {
            None,         // accepted
            TooLarge,     // longer than kMaxBytes
            Unverified,   // the signature is missing, malformed or does not verify with the pinned key
            Malformed,    // an entry is missing or not of its form
            OtherProduct, // it names another product than the one it was fetched for
            Expired,      // its expires= has passed
        };
        Kind kind = None;
        QString detail;

        // The sentence a user reads: the kind's words, then the detail; empty for None.
        QString text() const;
    };

    // Reads text as a description of `product` (the name part it was fetched for). With a pinned
    // key the signature must verify, and product= and expires= are required; without one the
    // signature is not examined, and product= and expires= are checked only when given. False,
    // with *refusal, when the text is refused.
    static bool Read(const QByteArray &text, const QByteArray &publicKey, const String &product,
                     UpdateDescription *description, Refusal *refusal);

    // An RFC 3339 date-time as written ("2027-01-31T00:00:00Z", "2027-01-31t09:30:00.5+09:30",
    // "2016-12-31T23:59:60Z"), in UTC; invalid for anything else, hour 24 included.
    static QDateTime ParseTime(const QString &text);
    static QString TimeText(const QDateTime &time);
    // At most kMaxShownCharacters characters of text, never half of a surrogate pair, and "..."
    // when it was cut.
    static QString Cut(const QString &text);
    // The text with each mirror= line emptied (its line break kept, so line numbers stay), and the
    // values of those lines in order: the one key that may repeat.
    static QByteArray WithoutMirrors(const QByteArray &text, QList<QByteArray> *mirrors);

    const INIFactory &entries() const noexcept { return m_entries; }
    String name() const { return m_entries.value("name"); }
    String version() const { return m_entries.value("version"); }
    String url() const { return m_entries.value("url"); }
    String page() const { return m_entries.value("page"); }
    String product() const { return m_entries.value("product"); }
    const QDateTime &expires() const noexcept { return m_expires; }
    // -1 and empty when the description gives none.
    qint64 size() const noexcept { return m_size; }
    const QByteArray &sha256() const noexcept { return m_sha256; }
    // The mirror= addresses, in the order given.
    const QStringList &mirrors() const noexcept { return m_mirrors; }
    // False only for close=no.
    bool requiresClose() const noexcept { return m_requiresClose; }
    // Whether its signature was verified with a pinned key.
    bool isVerified() const noexcept { return m_verified; }

private:
    Refusal checkEntries(const String &product, bool pinned, const QList<QByteArray> &mirrors);

    INIFactory m_entries;
    QDateTime m_expires;
    qint64 m_size = -1;
    QByteArray m_sha256;
    QStringList m_mirrors;
    bool m_requiresClose = true;
    bool m_verified = false;
};

} // namespace ORVIK
