#include "load_config.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "dialog_fixture.h"

namespace {

class LoadConfigTest : public DialogTest {
 protected:
  LoadConfigTest() {
    for (const char* name : {"Station 2.con", ".con", "A.con"}) dir.Write(name, "30:0\r\n");
  }
};

QRect RowRect(QListWidget* list, int row) { return list->visualItemRect(list->item(row)); }

}  // namespace

TEST_F(LoadConfigTest, ListsNamesAndEnablesOkOnlyAfterAClick) {
  LoadConfig dialog;
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "  Load configuration");
  ASSERT_EQ(dialog.List1->count(), 2);
  EXPECT_EQ(dialog.List1->item(0)->text(), "A");
  EXPECT_EQ(dialog.List1->item(1)->text(), "Station 2");
  EXPECT_FALSE(dialog.OKButton->isEnabled());
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  QTest::mouseClick(dialog.List1->viewport(), Qt::LeftButton, {},
                    RowRect(dialog.List1, 1).center());
  EXPECT_TRUE(dialog.OKButton->isEnabled());
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.ConfigFile, "Station 2.con");
}

TEST_F(LoadConfigTest, CancelAndEscapeLeaveNoName) {
  for (bool escape : {false, true}) {
    LoadConfig dialog;
    dialog.show();
    QTest::mouseClick(dialog.List1->viewport(), Qt::LeftButton, {},
                      RowRect(dialog.List1, 0).center());
    if (escape) {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
      QTest::mouseClick(dialog.CancelButton, Qt::LeftButton);
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.ConfigFile.isEmpty());
  }
}
