#include "apps/orvik/ntp/ntstruststore.h"

#include <openssl/ssl.h>

namespace ORVIK::NtsTrustStore {

// OpenSSL's default folders and file, where the system keeps its authorities.
bool trustSystemAuthorities(SSL_CTX *context, QString *)
{
    SSL_CTX_set_default_verify_paths(context);
    return true;
}

} // namespace ORVIK::NtsTrustStore
