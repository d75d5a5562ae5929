// What the station's TLS certificate says about itself, for the status and the warning that it
// is about to end: its subject's common name and the end of its validity.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TlsCertificateFacts {
  std::string subject;    // the common name, or the whole subject when it has none
  int64_t not_after = 0;  // end of validity, seconds since 1970-01-01 UTC
};

// Days before its end from which a certificate is warned of.
constexpr int kCertificateWarningDays = 14;

// Reads the first certificate of the PEM file path (a chain starts with the station's own).
// Returns nothing, with the reason in reason, when the file cannot be read or holds none.
std::optional<TlsCertificateFacts> ReadCertificateFacts(const std::string& path,
                                                        std::string& reason);

// Whole days from now (seconds since 1970-01-01 UTC) to the certificate's end, rounded down;
// negative once it has ended.
int64_t CertificateDaysLeft(const TlsCertificateFacts& facts, int64_t now);

// The warning for a certificate that ends within kCertificateWarningDays or has ended ("the
// TLS certificate station ends on 2026-12-20 (in 11 days): renew it"); empty otherwise.
std::string CertificateWarning(const TlsCertificateFacts& facts, int64_t now);
