#include "headless_view.h"

#include <chrono>
#include <thread>

#include "language_file.h"
#include "text_encoding.h"

void HeadlessView::ShowMessage(int textNumber, const std::string& title) {
  std::string text;
  if (textNumber >= 0 && textNumber <= kLastTextNumber) text = LanguageTexts[textNumber];
  if (text.empty()) text = "message " + std::to_string(textNumber);
  err_ << "Velk_VCP: ";
  if (!title.empty()) err_ << Cp1252ToUtf8(title) << ": ";
  err_ << Cp1252ToUtf8(text) << std::endl;
}

void HeadlessView::ShowPlainMessage(const std::string& text) {
  err_ << "Velk_VCP: " << Cp1252ToUtf8(text) << std::endl;
}

void HeadlessView::ShowSetupWindow() {
  err_ << "Velk_VCP: the device library did not start; there is no setup window without a "
          "display, edit Velk_VCP.CFG and Velk_VCP.DDK instead"
       << std::endl;
}

void HeadlessView::SetPortIcon(int slot) {
  if (slot == shown_slot_) return;
  shown_slot_ = slot;
  out_ << "Velk_VCP: serving port slot " << slot << std::endl;
}

void HeadlessView::WaitAndProcessEvents(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
