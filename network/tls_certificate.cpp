#include "tls_certificate.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <time.h>

#include <memory>

namespace {

std::string CommonName(X509* certificate) {
  X509_NAME* name = X509_get_subject_name(certificate);
  const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at >= 0) {
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
    unsigned char* text = nullptr;
    const int length = ASN1_STRING_to_UTF8(&text, value);
    if (length >= 0) {
      std::string common(reinterpret_cast<char*>(text), static_cast<size_t>(length));
      OPENSSL_free(text);
      return common;
    }
  }
  char* whole = X509_NAME_oneline(name, nullptr, 0);
  std::string subject = whole ? whole : "";
  OPENSSL_free(whole);
  return subject;
}

}  // namespace

std::optional<TlsCertificateFacts> ReadCertificateFacts(const std::string& path,
                                                        std::string& reason) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "r"), fclose);
  if (!file) {
    reason = "tls: " + path + " cannot be read";
    return std::nullopt;
  }
  std::unique_ptr<X509, void (*)(X509*)> certificate(
      PEM_read_X509(file.get(), nullptr, nullptr, nullptr), X509_free);
  if (!certificate) {
    reason = "tls: " + path + " holds no certificate";
    return std::nullopt;
  }
  struct tm end {};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate.get()), &end) != 1) {
    reason = "tls: " + path + ": the certificate's end of validity cannot be read";
    return std::nullopt;
  }
  return TlsCertificateFacts{CommonName(certificate.get()), static_cast<int64_t>(timegm(&end))};
}

int64_t CertificateDaysLeft(const TlsCertificateFacts& facts, int64_t now) {
  const int64_t seconds = facts.not_after - now;
  // Rounded down also below zero: a certificate that ended an hour ago has -1 days.
  return seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
}

std::string CertificateWarning(const TlsCertificateFacts& facts, int64_t now) {
  const int64_t days = CertificateDaysLeft(facts, now);
  if (days >= kCertificateWarningDays) return "";
  const time_t end = static_cast<time_t>(facts.not_after);
  struct tm utc {};
  gmtime_r(&end, &utc);
  char date[32];
  strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &utc);
  if (facts.not_after <= now) {
    return "the TLS certificate " + facts.subject + " ended on " + date +
           ": TLS clients refuse it; renew it";
  }
  const std::string within =
      days == 0 ? "within a day" : "in " + std::to_string(days) + " day" + (days == 1 ? "" : "s");
  return "the TLS certificate " + facts.subject + " ends on " + date + " (" + within +
         "): renew it";
}
