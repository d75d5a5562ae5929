// TLS for the HTTP library: OpenSSL made available under the names it loads, then its TLS
// initialised.
#pragma once

#include <string>

// Loads the two objects beside the program that answer to "libssl.so" and "libcrypto.so" (so
// the library finds OpenSSL 3 with the one function it needs under its old name, without the
// development package) and initialises the library's TLS. Returns false with reason when an
// object is missing or the library's TLS cannot start; runs once, later calls return the first
// answer.
bool PrepareHttpLibraryTls(std::string& reason);
