// What every dialog test shares: a fresh folder with the shipped language and preset files,
// English texts, default settings with preset 0, the simulated device library, and a way to
// act on a modal window once it is open.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "ddk_library.h"
#include "temp_dir.h"

class DialogTest : public ::testing::Test {
 protected:
  DialogTest();

  // Writes the device file and makes the simulated library read it at once.
  void WriteDdk(const std::string& text);

  // The one device library of the test process.
  static DdkLibrary& Library();

  TempDir dir;
};

// Returns a device file with count inputs named "Gauge n": device 1 takes inputs 1..perDevice,
// the rest go on to device 2, 3, ... Device 1 has foot switches 0 and 1 when footSwitches.
std::string DdkWithInputs(int count, int perDevice = 120, bool footSwitches = true);

// Clicks a check box on its indicator, as a user does.
void ClickCheckBox(QCheckBox* box);

// Calls act with the modal window of type Dialog as soon as one is open (the window opened by
// the code under test). Without such a window the test fails, unless *until has been set: then
// the watch ends quietly (for a window that may or may not open).
template <class Dialog>
void OnModal(std::function<void(Dialog*)> act, std::shared_ptr<const bool> until = nullptr,
             int attempts = 10000) {
  QTimer::singleShot(0, [act, until, attempts] {
    if (until && *until) return;
    if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
      act(dialog);
    } else if (attempts > 0) {
      OnModal<Dialog>(act, until, attempts - 1);
    } else {
      ADD_FAILURE() << "the expected modal window did not open";
    }
  });
}
