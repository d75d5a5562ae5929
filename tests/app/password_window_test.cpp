#include "password_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "language_file.h"
#include "modal.h"

namespace {

class PasswordWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LanguageTexts[501] = "OK";
    LanguageTexts[502] = "Abbruch \xE9";  // Windows-1252 e acute
    LanguageTexts[103] = "Quit";
  }

  // Shows the prompt modally; while it is open, types text and clicks button.
  void Run(PasswordWindow& prompt, const QString& text, QPushButton* PasswordWindow::*button) {
    WhenModal<PasswordWindow>([&, text, button](PasswordWindow* open) {
      seen_title = open->windowTitle();
      seen_quit_visible = open->QuitButton->isVisible();
      seen_cancel_caption = open->Abbruch->text();
      QTest::keyClicks(open->Text1, text);
      QTest::mouseClick(open->*button, Qt::LeftButton);
    });
    prompt.exec();
  }

  QString seen_title;
  QString seen_cancel_caption;
  bool seen_quit_visible = false;
};

TEST_F(PasswordWindowTest, OkHandsBackTheEntryUnchanged) {
  PasswordWindow prompt;
  prompt.QuitVisible = false;
  Run(prompt, "Secret ", &PasswordWindow::OKButton);
  EXPECT_EQ(prompt.PasswordEntry, "Secret ");
  EXPECT_FALSE(prompt.QuitChosen);
  EXPECT_EQ(seen_title, "  Password");
  EXPECT_EQ(seen_cancel_caption, QString::fromUtf8("Abbruch \u00e9"));
  EXPECT_FALSE(seen_quit_visible);
}

TEST_F(PasswordWindowTest, CancelAndEscapeGiveAnEmptyEntry) {
  PasswordWindow prompt;
  Run(prompt, "typed", &PasswordWindow::Abbruch);
  EXPECT_TRUE(prompt.PasswordEntry.isEmpty());
  EXPECT_FALSE(prompt.QuitChosen);

  PasswordWindow escaped;
  WhenModal<PasswordWindow>([](PasswordWindow* open) {
    QTest::keyClicks(open->Text1, "typed");
    QTest::keyClick(open, Qt::Key_Escape);
  });
  escaped.exec();
  EXPECT_TRUE(escaped.PasswordEntry.isEmpty());
  EXPECT_FALSE(escaped.QuitChosen);
}

TEST_F(PasswordWindowTest, QuitButtonOnlyWhenOfferedAndReportsTheChoice) {
  PasswordWindow prompt;
  prompt.QuitVisible = true;
  Run(prompt, "typed", &PasswordWindow::QuitButton);
  EXPECT_TRUE(seen_quit_visible);
  EXPECT_TRUE(prompt.QuitChosen);
  EXPECT_TRUE(prompt.PasswordEntry.isEmpty());
}

TEST_F(PasswordWindowTest, ReturnKeyConfirmsAndTheEntryStartsEmpty) {
  PasswordWindow prompt;
  Run(prompt, "first", &PasswordWindow::OKButton);
  WhenModal<PasswordWindow>([](PasswordWindow* open) {
    EXPECT_TRUE(open->Text1->text().isEmpty());
    QTest::keyClicks(open->Text1, "second");
    QTest::keyClick(open->Text1, Qt::Key_Return);
  });
  prompt.exec();
  EXPECT_EQ(prompt.PasswordEntry, "second");
}

}  // namespace
