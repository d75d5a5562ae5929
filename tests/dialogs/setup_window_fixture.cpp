#include "setup_window_fixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "password_window.h"
#include "presets.h"

void SetupWindowTest::AnswerServiceCode(const QString& entry) {
  OnModal<PasswordWindow>([entry](PasswordWindow* prompt) {
    EXPECT_FALSE(prompt->QuitButton->isVisible());
    QTest::keyClicks(prompt->Text1, entry);
    QTest::mouseClick(prompt->OKButton, Qt::LeftButton);
  });
}

void SetupWindowTest::ChooseOwnFormat(SetupWindow& window, const QString& entry) {
  AnswerServiceCode(entry);
  window.Com_Format->setCurrentIndex(window.Com_Format->count() - 1);
}

int SetupWindowTest::PositionOfPreset(SetupWindow&, int number) {
  std::vector<PresetEntry> catalogue = PresetCatalogue("own");
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (catalogue[i].number == number) return static_cast<int>(i);
  }
  ADD_FAILURE() << "no preset " << number;
  return -1;
}
