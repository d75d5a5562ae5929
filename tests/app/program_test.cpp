// The real Velk_VCP as a process: headless, and with windows on an X server of its own where a
// hot key pressed through the XTest extension switches the served port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "control_client.h"
#include "program_process.h"

// Xlib last: its macros (None, Status, Bool) clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

const char* const kServedInput = "1000:3\r\n1001:1\r\n1002:10\r\n";

TEST(ProgramProcessTest, HeadlessServesAClientAndLeavesNoPortOnSigterm) {
  ProgramFolder folder;
  folder.Write("Velk_VCP.CFG", std::string("20:5\r\n40:0\r\n") + kServedInput);
  ChildProcess program(VELK_PROGRAM, {"--headless"}, folder.path(), {"VELK_VCP_PORT_DIR="});
  ASSERT_TRUE(WaitFor([&] { return folder.PortExists(5); })) << program.Errors();
  const int client = OpenClient(folder.PortPath(5));
  ASSERT_GE(client, 0);
  EXPECT_EQ(Ask(client, "M1\r"), "10:+0025.012\r\n");
  close(client);
  EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Errors();
  EXPECT_FALSE(folder.PortExists(5));
}

// Runs the program with arguments through the shell; returns the exit status, and its standard
// output and error together in output.
int RunProgram(const std::string& arguments, std::string& output) {
  const std::string command = "'" VELK_PROGRAM "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  output.clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProgramProcessTest, CommandLineHelpVersionAndBadArguments) {
  const struct {
    std::string arguments;
    int status;
    std::vector<std::string> printed;
  } cases[] = {
      {"--help",
       0,
       {"--headless", "--dir DIR", "--user-folder", "--version", "DISPLAY", "WAYLAND_DISPLAY",
        "QT_QPA_PLATFORM", "VELK_VCP_PORT_DIR", "VELK_DDK_LIBRARY", "VELK_VCP_INPUT_DEVICES",
        "XDG_DATA_HOME", "LC_ALL", "Exit status"}},
      {"--version", 0, {"2.40.0\n"}},
      {"--frobnicate", 2, {"Velk_VCP: ", "(see --help)\n"}},
      {"--dir /tmp --user-folder", 2, {"Velk_VCP: ", "(see --help)\n"}},
      {"--dir /nonexistent/folder --headless", 1, {"Velk_VCP: cannot enter /nonexistent/folder"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string output;
    EXPECT_EQ(RunProgram(c.arguments, output), c.status);
    for (const std::string& text : c.printed) {
      EXPECT_NE(output.find(text), std::string::npos) << text << " in\n" << output;
    }
    if (c.status == 2) {
      EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
  }
}

TEST(ProgramProcessTest, StartProblemsAreNamedAsTheyAre) {
  ProgramFolder folder;
  folder.Write("Velk_VCP.CFG", std::string("20:0\r\n40:0\r\n") + kServedInput);
  folder.Write("not-a-folder", "");
  ASSERT_EQ(mkdir((folder.path() + "/empty").c_str(), 0700), 0);
  const struct {
    std::string command;
    std::vector<std::string> said;
  } cases[] = {
      {"'" VELK_PROGRAM "' --headless --dir '" + folder.path() + "/empty'",
       {"empty lacks the shipped files", "fill it with: cp "}},
      {"cd '" + folder.path() + "' && VELK_VCP_PORT_DIR=not-a-folder '" VELK_PROGRAM "' --headless",
       {"the port folder not-a-folder is not a folder", "no port could be created"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    FILE* pipe = popen((c.command + " 2>&1 </dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << output;
    for (const std::string& text : c.said) {
      EXPECT_NE(output.find(text), std::string::npos) << text << " in\n" << output;
    }
    EXPECT_EQ(output.find("another Velk_VCP"), std::string::npos) << output;
  }
}

TEST(ProgramProcessTest, StartedOutsideAWorkingFolderItWorksInThePerUserFolder) {
  ProgramFolder folder;
  const std::string elsewhere = folder.path() + "/elsewhere";
  const std::string user = folder.path() + "/home/.local/share/Velk_VCP";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  ChildProcess program("/bin/sh", {"-c", "exec '" VELK_PROGRAM "' > ../run.out"}, elsewhere,
                       {"HOME=" + folder.path() + "/home",
                        "XDG_DATA_HOME=", "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
                        "VELK_VCP_PORT_DIR=", "VELK_DDK_LIBRARY=", "VELK_VCP_INPUT_DEVICES=none"});
  const auto printed = [&] {
    std::ifstream out(folder.path() + "/run.out");
    return std::string((std::istreambuf_iterator<char>(out)), {});
  };
  ASSERT_TRUE(WaitFor([&] { return printed().find("serving;") != std::string::npos; }))
      << program.Errors();
  EXPECT_NE(printed().find(" at " + user + "/ports/COM"), std::string::npos) << printed();
  EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Errors();
  EXPECT_NE(program.Errors().find("working in " + user), std::string::npos) << program.Errors();
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  EXPECT_TRUE(std::filesystem::exists(user + "/Velk_VCP.CFG"));
}

TEST(ProgramProcessTest, WithWindowsAStopClosesOpenModalWindowsAndPortsArePrinted) {
  // With the log on, the log file appears just before the window opens.
  const struct {
    const char* what;
    std::string settings;
    bool takenByALink;  // ports/COM5 is a user's link: text 110 in a message box
  } cases[] = {
      {"info window at start", "20:5\r\n40:1\r\n50:1\r\n", false},
      {"message box of text 110", "20:5\r\n40:0\r\n50:1\r\n", true},
      {"no window", "20:5\r\n40:0\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramFolder folder;
    folder.Write("Velk_VCP.CFG", c.settings + kServedInput);
    if (c.takenByALink) {
      std::filesystem::create_directory(folder.path() + "/ports");
      std::filesystem::create_symlink("/dev/null", folder.path() + "/ports/COM5");
    }
    ChildProcess program("/bin/sh", {"-c", "exec '" VELK_PROGRAM "' > run.out"}, folder.path(),
                         {"QT_QPA_PLATFORM=offscreen", "DISPLAY=", "WAYLAND_DISPLAY=",
                          "VELK_VCP_PORT_DIR=", "VELK_VCP_INPUT_DEVICES=none"});
    const auto printed = [&] {
      std::ifstream out(folder.path() + "/run.out");
      return std::string((std::istreambuf_iterator<char>(out)), {});
    };
    if (c.settings.find("50:1") != std::string::npos) {
      ASSERT_TRUE(
          WaitFor([&] { return std::filesystem::exists(folder.path() + "/Velk_VCP.LOG"); }));
    } else {
      ASSERT_TRUE(WaitFor([&] { return printed().find("slot 1") != std::string::npos; }))
          << program.Errors();
      EXPECT_EQ(printed(), "Velk_VCP: slot 1 simulates COM5 at " + folder.PortPath(5) + "\n");
    }
    EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Errors();
    if (!c.takenByALink) {
      EXPECT_FALSE(folder.PortExists(5));
    }
  }
}

// The top-level window whose name is title, searched below window; 0 when there is none.
Window FindWindow(Display* display, Window window, const char* title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    const bool match = std::string(name) == title;
    XFree(name);
    if (match) return window;
  }
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    found = FindWindow(display, children[i], title);
  }
  if (children != nullptr) XFree(children);
  return found;
}

// The largest picture of the window's _NET_WM_ICON; a null image when there is none.
QImage WindowIcon(Display* display, Window window) {
  const Atom icon = XInternAtom(display, "_NET_WM_ICON", False);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, icon, 0, 1 << 20, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) != Success ||
      data == nullptr) {
    return {};
  }
  const auto* values = reinterpret_cast<const unsigned long*>(data);
  QImage best;
  for (unsigned long i = 0; i + 2 <= count;) {
    const int width = static_cast<int>(values[i]);
    const int height = static_cast<int>(values[i + 1]);
    i += 2;
    if (width <= 0 || height <= 0 || i + static_cast<unsigned long>(width * height) > count) break;
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        image.setPixel(x, y, static_cast<uint32_t>(values[i++]));
      }
    }
    if (image.width() > best.width()) best = image;
  }
  XFree(data);
  return best;
}

QImage Badge(const ProgramFolder& folder, int digit) {
  return QImage(QString::fromStdString(folder.path() + "/" + std::to_string(digit) + ".ico"))
      .convertToFormat(QImage::Format_ARGB32);
}

TEST(ProgramProcessTest, HotKeyUnderXSwitchesThePortAndItsIcon) {
  XServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot be started";
  ProgramFolder folder;
  // Slot 1 is COM5, slot 2 COM6 with Ctrl+F2 (hot key 14).
  folder.Write("Velk_VCP.CFG", std::string("20:5\r\n82:6\r\n92:14\r\n40:0\r\n") + kServedInput);
  ChildProcess program(VELK_PROGRAM, {}, folder.path(),
                       {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=",
                        "VELK_VCP_PORT_DIR=", "VELK_VCP_INPUT_DEVICES=none"});
  ASSERT_TRUE(WaitFor([&] { return folder.PortExists(5) && folder.PortExists(6); }))
      << program.Errors();

  ASSERT_FALSE(Badge(folder, 1).isNull());
  ASSERT_NE(Badge(folder, 1), Badge(folder, 2));
  Display* display = XOpenDisplay(server.display().c_str());
  ASSERT_NE(display, nullptr);
  const char* title = " Velk Virtual COM Port Driver   V2.400";
  Window window = 0;
  ASSERT_TRUE(WaitFor(
      [&] { return (window = FindWindow(display, DefaultRootWindow(display), title)) != 0; }));
  EXPECT_TRUE(WaitFor([&] { return WindowIcon(display, window) == Badge(folder, 1); }));

  const int client = OpenClient(folder.PortPath(6));
  ASSERT_GE(client, 0);
  const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
  const KeyCode f2 = XKeysymToKeycode(display, XK_F2);
  XTestFakeKeyEvent(display, control, True, 0);
  XTestFakeKeyEvent(display, f2, True, 0);
  XFlush(display);
  const bool switched = WaitFor([&] { return WindowIcon(display, window) == Badge(folder, 2); });
  XTestFakeKeyEvent(display, f2, False, 0);
  XTestFakeKeyEvent(display, control, False, 0);
  XFlush(display);
  EXPECT_TRUE(switched);
  EXPECT_EQ(Ask(client, "M1\r"), "10:+0025.012\r\n");
  close(client);
  // The window answers the program's socket from its event loop: serve moves the icon back.
  const std::string socket = folder.path() + "/Velk_VCP.control";
  EXPECT_EQ(AskProgram(socket, "serve 1").text, R"({"ok":true,"served_slot":1})");
  EXPECT_TRUE(WaitFor([&] { return WindowIcon(display, window) == Badge(folder, 1); }));
  EXPECT_NE(AskProgram(socket, "status").text.find(R"("front_end":"desktop")"), std::string::npos);
  XCloseDisplay(display);

  EXPECT_EQ(program.Stop(SIGTERM), 0) << program.Errors();
  EXPECT_FALSE(folder.PortExists(5));
  EXPECT_FALSE(folder.PortExists(6));
}

}  // namespace
