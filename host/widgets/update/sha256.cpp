#include "host/widgets/update/sha256.h"

#include "host/widgets/update/regularfile.h"

#include <QFile>

#include <openssl/evp.h>

#include <stdexcept>

namespace ORVIK {

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    // Only an allocation failure makes these fail; a digest that silently skipped bytes would be worse.
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

void Sha256::addData(const char *data, qsizetype size)
{
    if (size > 0 && EVP_DigestUpdate(m_context.get(), data, static_cast<size_t>(size)) != 1)
        throw std::runtime_error("SHA-256 failed");
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) != 1)
        throw std::runtime_error("SHA-256 failed");
    digest.resize(length);
    reset();
    return digest;
}

QByteArray Sha256::HashFile(const QString &path, qint64 *size, QString *error)
{
    // Never blocking on a FIFO planted under the name, and only a regular file.
    RegularFile::Problem problem = RegularFile::Problem::None;
    QString why;
    const std::unique_ptr<QFile> opened = RegularFile::OpenForReading(path, &problem, &why);
    if (!opened) {
        if (error)
            *error = why;
        return QByteArray();
    }
    QFile &file = *opened;
    Sha256 hash;
    qint64 total = 0;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), block.size());
        if (read < 0) {
            if (error)
                *error = file.errorString();
            return QByteArray();
        }
        if (read == 0)
            break;
        hash.addData(block.constData(), read);
        total += read;
    }
    if (size)
        *size = total;
    return hash.result();
}

} // namespace ORVIK
