// Runs the dialog tests inside one QApplication on the offscreen platform, with the simulated
// device library.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
