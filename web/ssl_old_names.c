/* OpenSSL under the names the HTTP library asks for. Debian 12's civetweb loads OpenSSL at run
 * time as "libssl.so" and looks up OpenSSL 1.1's functions there; OpenSSL 3 renamed
 * SSL_get_peer_certificate, which it calls for every TLS connection. Loaded before the library
 * starts, this object answers to that name (its SONAME) with the old function and, through its
 * dependency, every other one of libssl.so.3. */
#include <openssl/ssl.h>

#undef SSL_get_peer_certificate
X509* SSL_get_peer_certificate(const SSL* ssl);

X509* SSL_get_peer_certificate(const SSL* ssl) { return SSL_get1_peer_certificate(ssl); }
