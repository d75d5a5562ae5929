// Everything the engine and the lifecycle do to the main window goes through this interface:
// the desktop program implements it with windows, the headless program with standard output
// and standard error. Texts are 8-bit (Windows-1252) byte strings, as the settings hold them.
// Every method has an empty default, so a front end implements only what it shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MonitorList;

class IMainView {
 public:
  virtual ~IMainView() = default;

  // Message box with an exclamation icon showing language text textNumber (110: a port cannot
  // be used or created; 112: the device library did not start). An empty title stands for
  // the program's title. Returns when the user has closed it.
  virtual void ShowMessage(int textNumber, const std::string& title) {
    (void)textNumber, (void)title;
  }
  // Message box with a fixed text and an OK button only; returns when the user has closed it.
  virtual void ShowPlainMessage(const std::string& text) { (void)text; }

  // The window's native handle, passed to Device_Init at start-up (0 when there is none).
  virtual int32_t WindowHandle() { return 0; }
  // Shows or hides the two monitor lists (hidden while the activity log is off).
  virtual void ShowLogLists(bool visible) { (void)visible; }
  // Sets every caption from the language texts, fills the language selector and selects
  // the current language.
  virtual void ApplyLanguageTexts() {}
  // Sets the device label (two blanks followed by the device name).
  virtual void SetDeviceLabel(const std::string& text) { (void)text; }
  // The monitor lists changed: commands received (List1) and answers sent (List2).
  virtual void UpdateMonitorLists(const MonitorList& commands, const MonitorList& answers) {
    (void)commands, (void)answers;
  }

  // Enables or disables the Quit button and the port selector together (disabled while a
  // client holds a port open).
  virtual void SetQuitAndPortSelectorEnabled(bool enabled) { (void)enabled; }
  // Enables or disables the port selector alone.
  virtual void SetPortSelectorEnabled(bool enabled) { (void)enabled; }
  // Replaces the port selector's entries ("  COM3", ..., "-->").
  virtual void SetPortSelectorItems(const std::vector<std::string>& items) { (void)items; }
  // Selects entry index of the port selector (the program's own choice, not a user's click).
  virtual void SelectPortSelectorEntry(int index) { (void)index; }
  // Shows text as the port selector's text without selecting an entry ("-->").
  virtual void SetPortSelectorText(const std::string& text) { (void)text; }

  // Window and tray icon for port slot 1..4: loads "<slot>.ico" from the working folder as the
  // window icon, then removes the tray icon and adds it again with that icon.
  virtual void SetPortIcon(int slot) { (void)slot; }
  // Removes the tray icon and adds it again with the current window icon.
  virtual void RefreshTrayIcon() {}
  // Removes the tray icon (shutdown).
  virtual void RemoveTrayIcon() {}
  // Minimises the window into the tray (end of start-up).
  virtual void MinimiseToTray() {}

  // Modal windows; each returns when the window has been closed.
  virtual void ShowInfoWindow() {}
  virtual void ShowSetupWindow() {}
  virtual void ShowSeveralPortsDialog() {}

  // Asks the front end to end the program shortly (the close timer): it stops calling Tick
  // and then calls Shutdown.
  virtual void RequestClose() {}
  // Pauses for ms milliseconds and lets pending window events run.
  virtual void WaitAndProcessEvents(int ms) { (void)ms; }
};
