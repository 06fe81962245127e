#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_md_ctx_st;

namespace ORVIK {

// A SHA-256 digest computed piece by piece, so that a large file never has to be held whole.
class ORVIKWIDGETS_EXPORT Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qsizetype size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    // The 32-byte digest of everything added; the digest starts afresh afterwards.
    QByteArray result();

    // The digest of a regular file's bytes and their count; empty, with error set, when it cannot be
    // read or is not a regular file (opened without blocking).
    static QByteArray HashFile(const QString &path, qint64 *size, QString *error);

private:
    struct Free
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    void reset();

    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};

} // namespace ORVIK
