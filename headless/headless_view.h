// The main window of the headless program: messages go to standard error with their language
// text, windows that would be shown are skipped, pauses sleep.
#pragma once

#include <ostream>

#include "main_view.h"

class HeadlessView : public IMainView {
 public:
  // Notices go to out, messages to err.
  HeadlessView(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void ShowMessage(int textNumber, const std::string& title) override;
  void ShowPlainMessage(const std::string& text) override;
  void ShowSetupWindow() override;
  void SetPortIcon(int slot) override;
  void RequestClose() override { close_requested_ = true; }
  void WaitAndProcessEvents(int ms) override;

  bool close_requested() const { return close_requested_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  int shown_slot_ = 0;
  bool close_requested_ = false;
};
