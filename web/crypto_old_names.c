/* libcrypto.so.3 under the name the HTTP library loads it by ("libcrypto.so", see
 * ssl_old_names.c): this object has no functions of its own, its dependency has them all. */
#include <openssl/crypto.h>

unsigned long VelkCryptoVersion(void);

unsigned long VelkCryptoVersion(void) { return OpenSSL_version_num(); }
