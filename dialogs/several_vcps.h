// The several ports dialog: for each of the four port slots, on or off, its COM number and its
// hot key, and (read-only) its network port. Its effect is the changed settings VcpCom1..VcpCom4
// and HotKey1..HotKey4.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// Entry n is 1 when COM<n> exists on the PC (found by the start-up probe), 0 otherwise.
using ComPortTable = std::array<int16_t, 101>;

// Number of hot-key entries: "---", then F1..F12 alone, with Ctrl, with Alt, with Alt+Ctrl.
constexpr int kHotKeyEntries = 49;

// Returns the text of hot-key list entry index (0..48): "---", "F1", "Ctrl+F1", "Alt+F1",
// "Alt+Ctrl+F12", ...; an empty string for other indexes.
QString HotKeyEntryText(int index);

class SeveralVCPs : public QDialog {
  Q_OBJECT

 public:
  // The dialog lists only the numbers 1..16 that comPortExists marks as free; the table must
  // outlive the dialog.
  explicit SeveralVCPs(const ComPortTable& comPortExists, QWidget* parent = nullptr);

  // Returns the position of COM number com among the free numbers 1..16, counted from 0;
  // -1 when com is 0 or not free.
  int ComToListIndex(int com) const;
  // Returns the free COM number at position index; 0 when index is -1 or past the last one.
  int ListIndexToCom(int index) const;

  std::array<QCheckBox*, 4> VCPOnOff;
  std::array<QComboBox*, 4> VCPSelect;
  std::array<QComboBox*, 4> KComb;
  // Each slot's network port as the settings give it (set with velk-vcp-config net).
  std::array<QLabel*, 4> NetworkPort;
  QLabel* Label1;
  QLabel* Label2;
  // Lets several programs hold one port at once (the settings' shared ports).
  QCheckBox* SharedPorts;
  // Answers each port's client at any time, not only the served port's (AnswerEveryPort).
  QCheckBox* EveryPort;
  QPushButton* OKButton;
  QPushButton* CancelButton;

  void VCPOnOff_Click(int index);
  // Refuses a row that is on without a number, or a number chosen twice, with a message box
  // naming the port; otherwise stores all eight settings and closes.
  void OKButton_Click();
  void CancelButton_Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Form_Load();
  void RefusePort(int portNumber);

  const ComPortTable& exists_;
};
