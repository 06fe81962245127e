#pragma once

#include <QString>

// OpenSSL's SSL_CTX. Declared rather than included: on Windows, wincrypt.h must come before OpenSSL's headers.
struct ssl_ctx_st;

namespace ORVIK::NtsTrustStore {

// Makes the context trust the system's certificate authorities and, when caFile is not empty, the PEM
// certificates in it. On Windows the system's are those of the ROOT store; OpenSSL's built-in folders
// are never consulted there, since they name paths that any user of the machine could create.
// False with `error` saying why.
bool configure(ssl_ctx_st *context, const QString &caFile, QString *error);

// The system's part of configure, one file per system (ntstruststore_unix.cpp, ntstruststore_win.cpp).
bool trustSystemAuthorities(ssl_ctx_st *context, QString *error);

} // namespace ORVIK::NtsTrustStore
