// velk-ddk: sends operator actions (foot switch, data key, values, plugging) to the simulated
// gauge interface library through its control socket and prints the answers.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ddk_description.h"
#include "working_folder.h"

namespace {

constexpr int kAnswerTimeoutMs = 3000;

constexpr const char* kCommands =
    "Sends COMMAND (or, without one, each line of standard input) to the simulated gauge\n"
    "library and prints its answer. The socket is taken from the DDK file (default\n"
    "Velk_VCP.DDK of the working folder: --dir DIR, else --user-folder, else the current\n"
    "folder when it holds Velk_VCP.CFG or VCP001.LAN, else the per-user folder, as for\n"
    "Velk_VCP and velk-vcp-config).\n"
    "\n"
    "Commands:\n"
    "  press D [F]         press foot switch F (0 or 1, default 0) of device D\n"
    "  release D [F]       release it\n"
    "  key D I [VALUE]     press the data key of input I (optionally with a value)\n"
    "  set D I VALUE       set the input's value: a number, or ramp/sine/walk ...\n"
    "  status D I STATUS   valid, novalue, outofrange, noanswer or a number\n"
    "  unplug D | replug D take a device away or give it back\n"
    "  show D I            print the input's value, status and limits (for a real\n"
    "                      gauge also its port, the reading's age, the last error)\n"
    "  show D              print the device's state and foot switches\n"
    "\n"
    "Exit status: 0 OK, 1 an ERR answer, 2 bad arguments or no connection.";

int Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Sends one command line and returns its answer; empty when the library did not answer.
// closed is set when the library had closed the connection before any answer came (it closes
// idle connections), so that the command can be sent again on a new one.
std::string Ask(int fd, const std::string& command, bool& closed) {
  closed = false;
  std::string line = command + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      closed = errno == EPIPE || errno == ECONNRESET;
      return {};
    }
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kAnswerTimeoutMs) <= 0) return {};
    char ch;
    ssize_t n = recv(fd, &ch, 1, 0);
    if (n <= 0) {
      closed = answer.empty() && (n == 0 || errno == ECONNRESET);
      return {};
    }
    if (ch == '\n') return answer;
    answer += ch;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string ddk;
  std::string socket_path;
  std::string dir;
  bool user_folder = false;
  CLI::App app{"velk-ddk: acts as the operator of the simulated gauge library."};
  app.name("velk-ddk");
  app.set_version_flag("--version", VELK_VERSION);
  auto* file_option =
      app.add_option("-f", ddk, "the device file (default: Velk_VCP.DDK of the working folder)")
          ->type_name("DDK-FILE");
  auto* dir_option = app.add_option("--dir", dir, "the working folder DIR")->type_name("DIR");
  app.add_flag("--user-folder", user_folder, "work in the per-user folder")
      ->excludes(dir_option)
      ->excludes(file_option);
  dir_option->excludes(file_option);
  app.add_option("-s", socket_path, "the control socket (default: from the device file)")
      ->type_name("SOCKET");
  // Everything from the first word on is the command, also words that start with '-'.
  app.prefix_command();
  app.footer(kCommands);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "velk-ddk: " << e.what() << " (see --help)\n";
    return 2;
  }
  const std::vector<std::string> words = app.remaining();
  if (!words.empty() && words[0].starts_with("-")) {
    std::cerr << "velk-ddk: unknown option " << words[0] << " (see --help)\n";
    return 2;
  }
  if (socket_path.empty() && ddk.empty()) {
    WorkingFolder folder;
    std::string error;
    if (!FindWorkingFolder(dir, user_folder, folder, error)) {
      std::cerr << "velk-ddk: " << error << '\n';
      return 2;
    }
    ddk = (folder.path / "Velk_VCP.DDK").string();
  }
  if (socket_path.empty()) {
    std::ostringstream ignored;  // the library itself reports problems of the file
    socket_path = ReadDdkFile(ddk, ignored).socket_path;
  }
  int fd = Connect(socket_path);
  if (fd < 0) {
    std::cerr << "velk-ddk: cannot connect to " << socket_path << ": " << strerror(errno)
              << " (is the program running with the simulated gauge library?)\n";
    return 2;
  }
  int result = 0;
  auto run = [&](const std::string& command) {
    bool closed = false;
    std::string answer = Ask(fd, command, closed);
    if (closed) {
      close(fd);
      fd = Connect(socket_path);
      if (fd >= 0) answer = Ask(fd, command, closed);
    }
    if (answer.empty()) {
      std::cerr << "velk-ddk: no answer from " << socket_path << '\n';
      result = 2;
      return false;
    }
    std::cout << answer << std::endl;
    if (answer.rfind("OK", 0) != 0 && result == 0) result = 1;
    return true;
  };
  if (!words.empty()) {
    std::string command;
    for (const std::string& word : words) command += (command.empty() ? "" : " ") + word;
    run(command);
  } else {
    std::string line;
    while (std::getline(std::cin, line) && run(line)) {
    }
  }
  if (fd >= 0) close(fd);
  return result;
}
