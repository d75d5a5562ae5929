// Helpers for tests of the setup window.
#pragma once

#include <QString>

#include "dialog_fixture.h"
#include "setup_window.h"

class SetupWindowTest : public DialogTest {
 protected:
  // Answers the service-code prompt that the next choice of the own format opens.
  static void AnswerServiceCode(const QString& entry);
  // Chooses the own command format in window, answering the prompt with entry.
  static void ChooseOwnFormat(SetupWindow& window, const QString& entry);
  // Returns the format list position of preset number.
  static int PositionOfPreset(SetupWindow& window, int number);
};
