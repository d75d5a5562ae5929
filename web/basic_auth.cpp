#include "basic_auth.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    reason = "the password file " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason = "the password file " + path + " is not a regular file";
  } else if ((st.st_mode & 077) != 0) {
    reason = "the password file " + path +
             " may be read or changed by others: chmod 600 (or 400) it first";
  } else {
    char buffer[4096];
    ssize_t n = 0;
    while (text.find('\n') == std::string::npos && text.size() < 65536 &&
           (n = ::read(fd, buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<size_t>(n));
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) reason = "the password file " + path + " has no password on its first line";
  }
  ::close(fd);
  if (!reason.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> Base64Decode(std::string_view base64) {
  if (base64.size() % 4 != 0) return std::nullopt;
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  size_t padding = 0;
  for (size_t i = 0; i < base64.size(); ++i) {
    const char c = base64[i];
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=' && i + 2 >= base64.size()) {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) return std::nullopt;  // data after padding
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xff));
    }
  }
  return out;
}

bool BasicAuthAccepts(const char* authorization, const std::string& password) {
  if (authorization == nullptr) return false;
  std::string_view value(authorization);
  constexpr std::string_view kScheme = "Basic ";
  if (value.size() <= kScheme.size() || strncasecmp(value.data(), "basic ", kScheme.size()) != 0) {
    return false;
  }
  value.remove_prefix(kScheme.size());
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  const std::optional<std::string> decoded = Base64Decode(value);
  if (!decoded) return false;
  const size_t colon = decoded->find(':');
  if (colon == std::string::npos) return false;
  const std::string_view given = std::string_view(*decoded).substr(colon + 1);
  // Every byte is compared, so the time taken tells nothing of where a guess went wrong.
  unsigned difference = given.size() == password.size() ? 0u : 1u;
  for (size_t i = 0; i < given.size(); ++i) {
    difference |=
        static_cast<unsigned char>(given[i]) ^
        static_cast<unsigned char>(password[i % (password.empty() ? 1 : password.size())]);
  }
  return difference == 0 && !password.empty();
}
