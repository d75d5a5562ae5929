// The setup window's input table: eight rows paged by a scroll bar over the measuring inputs
// the device library reports, a window onto Settings.Inputs.
#pragma once

#include <QGroupBox>
#include <array>
#include <vector>

#include "device_items.h"
#include "device_library.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QScrollBar;

// Row k (1..8) shows the input with running number TopRow + k - 1. Edits stay in the rows
// until StoreInputRows writes them back to Settings.
class InputTable : public QGroupBox {
  Q_OBJECT

 public:
  // loading is the setup window's Loading flag: while it is set, scroll bar movements are
  // ignored.
  InputTable(IDeviceLibrary& library, bool& loading, QWidget* parent = nullptr);

  static constexpr int kRows = 8;

  // Element 0 of Address and GauInput is the column heading, elements 1..8 the rows.
  std::array<QLabel*, kRows + 1> Address{};
  std::array<QLabel*, kRows + 1> GauInput{};
  std::array<QCheckBox*, kRows + 1> State{};
  std::array<QLineEdit*, kRows + 1> CAdr{};
  std::array<QLineEdit*, kRows + 1> MVAdr{};
  std::array<QCheckBox*, kRows + 1> FS{};
  QLabel* Status;
  QLabel* CommandAdr;
  QLabel* MeaValAdr;
  QLabel* Footswitch;
  QScrollBar* VScroll1;
  // The scroll position at which the rows were last filled; StoreInputRows writes there.
  int TopRow = 1;

  // Sets the frame title, headings and check box captions from the language texts.
  void SetCaptions();
  // Reads the input list from the device library again, sets up the scroll bar for it
  // (disabled for 8 inputs or fewer), shows as many rows as there are inputs, empties them
  // and goes back to the first page.
  void PrepareInputRows();
  // Fills the rows from Settings for the scroll bar's current position.
  void ShowInputRows();
  // Writes the rows back to Settings for the position TopRow.
  void StoreInputRows();
  // Enables the address boxes and the foot-switch box of row k exactly when State(k) is ticked.
  void State_Click(int k);
  void VScroll1_Change();

  // The inputs as last read by PrepareInputRows, in running-number order.
  const std::vector<DeviceInput>& InputList() const { return inputs_; }

 private:
  void ShowRow(int k, bool visible);

  IDeviceLibrary& library_;
  bool& loading_;
  std::vector<DeviceInput> inputs_;
};
