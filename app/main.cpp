// Velk_VCP: with windows where a display is available, otherwise (or with --headless) on
// standard output and standard error.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "headless_entry.h"
#ifdef VELK_WITH_GUI
#include "desktop_program.h"
#endif

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool HasDisplay() { return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM"); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool headless = false;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
#ifdef VELK_WITH_GUI
  if (!headless && HasDisplay()) return RunDesktop(count, args.data());
#else
  (void)headless;
  (void)HasDisplay;
#endif
  return RunHeadless(count, args.data());
}
