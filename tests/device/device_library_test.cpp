// The program's wrapper loading the real simulated libVelk_DDK.so with dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "ddk_library.h"
#include "temp_dir.h"
#include "velk_ddk.h"

namespace {

constexpr const char* kDevices =
    "device: 1\n"
    "footswitch: 0\n"
    "name: Foot switch\n"
    "name_de: Fussschalter\n"
    "name_fr: Pedale\n"
    "input: 1\n"
    "name: Caliper\n"
    "unit: mm\n"
    "value: 12.5\n"
    "input: 2\n"
    "name: Dial gauge\n"
    "value: ramp 0 1 3600\n"
    "status: novalue\n"
    "input: 3\n"
    "status: noanswer\n"
    "device: 3\n"
    "input: 120\n"
    "name: Bore gauge\n"
    "value: -0.25\n";

class DeviceLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("velk-dev");
    ASSERT_FALSE(folder_.empty());
    ddk_ = folder_ + "/Velk_VCP.DDK";
    Write(kDevices);
  }
  void TearDown() override {
    library_.Device_DeInit();
    std::filesystem::remove_all(folder_);
  }
  void Write(const std::string& content) { std::ofstream(ddk_, std::ios::binary) << content; }

  DdkLibrary library_{VELK_DDK_SIM};
  std::string folder_;
  std::string ddk_;
};

TEST_F(DeviceLibraryTest, AllNineFunctionsWorkThroughTheWrapper) {
  ASSERT_TRUE(library_.Load());
  library_.Device_PreInit();
  std::string name = "unchanged";
  // Names are available before Device_Init: the command table is built first.
  EXPECT_EQ(library_.Device_GetName(1, ddk_, 1, 1, 0, name), 0);
  EXPECT_EQ(name, "Foot switch");
  EXPECT_EQ(library_.Device_GetName(2, ddk_, 1, 1, 0, name), 0);
  EXPECT_EQ(name, "Fussschalter");
  EXPECT_EQ(library_.Device_GetName(3, ddk_, 1, 1, 0, name), 0);
  EXPECT_EQ(name, "Pedale");
  EXPECT_EQ(library_.Device_GetName(1, ddk_, 3, 2, 120, name), 0);
  EXPECT_EQ(name, "Bore gauge");
  EXPECT_EQ(library_.Device_GetName(1, ddk_, 1, 2, 3, name), 0);
  EXPECT_EQ(name, "");
  name = "kept";
  EXPECT_NE(library_.Device_GetName(1, ddk_, 1, 1, 1, name), 0);  // no foot switch 1
  EXPECT_NE(library_.Device_GetName(1, ddk_, 2, 2, 1, name), 0);  // no device 2
  EXPECT_NE(library_.Device_GetName(1, ddk_, 9, 2, 1, name), 0);
  EXPECT_NE(library_.Device_GetName(1, ddk_, 1, 3, 1, name), 0);
  EXPECT_EQ(name, "kept");
  // Units, through the optional export: empty for an input the file gives none.
  std::string unit = "kept";
  EXPECT_TRUE(library_.Device_Unit(ddk_, 1, 1, unit));
  EXPECT_EQ(unit, "mm");
  EXPECT_TRUE(library_.Device_Unit(ddk_, 3, 120, unit));
  EXPECT_EQ(unit, "");
  unit = "kept";
  EXPECT_FALSE(library_.Device_Unit(ddk_, 1, 4, unit));  // no input 4
  EXPECT_FALSE(library_.Device_Unit(ddk_, 2, 1, unit));  // no device 2
  EXPECT_FALSE(library_.Device_Unit(ddk_, 9, 1, unit));
  EXPECT_EQ(unit, "kept");

  ASSERT_EQ(library_.Device_Init(1, ddk_, 1234), 0);
  double v = 0;
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_EQ(library_.Device_Value(1, 2, v), 1);
  EXPECT_LT(library_.Device_Value(1, 3, v), 0);
  EXPECT_LT(library_.Device_Value(1, 4, v), 0);  // no such input
  EXPECT_EQ(library_.Device_Value(3, 120, v), 0);
  EXPECT_DOUBLE_EQ(v, -0.25);
  EXPECT_EQ(library_.Device_Trigger(1, 0), 0);
  int16_t input = 5;
  EXPECT_NE(library_.Device_Collect(1, input, v), 0);
  EXPECT_EQ(input, 5);

  // Tolerance limits make a valid value out of range; control limits do not.
  library_.Device_LimitCheck(1, 1, 1, 12.0, 11.0);
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
  library_.Device_LimitCheck(1, 1, 2, 12.4, 10.0);
  EXPECT_EQ(library_.Device_Value(1, 1, v), VELK_DDK_OUT_OF_RANGE);
  EXPECT_DOUBLE_EQ(v, 12.5);
  library_.Device_LimitCheck(1, 1, 2, 13.0, 12.6);
  EXPECT_EQ(library_.Device_Value(1, 1, v), VELK_DDK_OUT_OF_RANGE);
  library_.Device_LimitCheck(1, 1, 2, 12.5, 12.5);  // on the limit is inside
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
  library_.Device_LimitCheck(1, 2, 2, 0.0, 0.0);  // no value stays no value
  EXPECT_EQ(library_.Device_Value(1, 2, v), 1);

  // Setup reads the file anew; the running devices take it over.
  Write("device: 1\ninput: 1\nname: Renamed\nvalue: 7\n");
  library_.Device_Setup(1, ddk_, 0);
  EXPECT_EQ(library_.Device_GetName(1, ddk_, 1, 2, 1, name), 0);
  EXPECT_EQ(name, "Renamed");
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
  EXPECT_DOUBLE_EQ(v, 7);
  EXPECT_NE(library_.Device_GetName(1, ddk_, 3, 2, 120, name), 0);

  library_.Device_DeInit();
  EXPECT_LT(library_.Device_Value(1, 1, v), 0);
  EXPECT_EQ(library_.Device_Init(1, ddk_, 0), 0);  // a new start after the setup window
  EXPECT_EQ(library_.Device_Value(1, 1, v), 0);
}

TEST_F(DeviceLibraryTest, InitFailsWithoutAUsableFileAndCallsSurviveAnyOrder) {
  double v = 1;
  int16_t input = 0;
  library_.Device_DeInit();
  EXPECT_LT(library_.Device_Value(1, 1, v), 0);  // before Device_Init
  EXPECT_EQ(library_.Device_Trigger(1, 0), 0);
  EXPECT_NE(library_.Device_Collect(1, input, v), 0);
  library_.Device_LimitCheck(1, 1, 2, 1, 0);
  testing::internal::CaptureStderr();
  EXPECT_NE(library_.Device_Init(1, folder_ + "/none.DDK", 0), 0);
  Write("# nothing but a comment\n");
  EXPECT_NE(library_.Device_Init(1, ddk_, 0), 0);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("none.DDK"), std::string::npos);
  EXPECT_NE(errors.find("describes no device"), std::string::npos);
  Write(kDevices);
  EXPECT_EQ(library_.Device_Init(1, ddk_, 0), 0);
  EXPECT_EQ(library_.Device_Init(1, ddk_, 0), 0);  // twice in a row
  library_.Device_PreInit();
  library_.Device_DeInit();
  library_.Device_DeInit();
}

TEST_F(DeviceLibraryTest, GetNameNeverWritesPastTwoHundredBytes) {
  Write("device: 1\ninput: 1\nname: " + std::string(250, 'N') + "\n");
  void* handle = dlopen(VELK_DDK_SIM, RTLD_NOW);
  ASSERT_NE(handle, nullptr);
  auto get_name = reinterpret_cast<decltype(&Device_GetName)>(dlsym(handle, "Device_GetName"));
  ASSERT_NE(get_name, nullptr);
  char buffer[VELK_DDK_NAME_SIZE + 16];
  memset(buffer, '#', sizeof buffer);
  memset(buffer, ' ', VELK_DDK_NAME_SIZE);
  std::vector<char> ddk(ddk_.begin(), ddk_.end());
  ddk.push_back('\0');
  testing::internal::CaptureStderr();
  ASSERT_EQ(get_name(1, ddk.data(), 1, 2, 1, buffer), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(strlen(buffer), VELK_DDK_NAME_SIZE - 1u);
  for (size_t i = VELK_DDK_NAME_SIZE; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
  EXPECT_NE(get_name(1, nullptr, 1, 2, 1, buffer), 0);
  EXPECT_NE(get_name(1, ddk.data(), 1, 2, 1, nullptr), 0);
  dlclose(handle);
}

TEST(DeviceLibraryMissingTest, EveryCallReportsFailureAndTheReasonShowsOnce) {
  DdkLibrary library("/nonexistent/libVelk_DDK.so");
  testing::internal::CaptureStderr();
  library.Device_PreInit();
  EXPECT_NE(library.Device_Init(1, "Velk_VCP.DDK", 0), 0);
  double v = 3;
  int16_t input = 4;
  std::string name = "kept";
  EXPECT_LT(library.Device_Value(1, 1, v), 0);
  EXPECT_EQ(library.Device_Trigger(1, 0), 0);
  EXPECT_NE(library.Device_Collect(1, input, v), 0);
  EXPECT_NE(library.Device_GetName(1, "Velk_VCP.DDK", 1, 1, 0, name), 0);
  library.Device_Setup(1, "Velk_VCP.DDK", 0);
  library.Device_LimitCheck(1, 1, 2, 1, 0);
  library.Device_DeInit();
  EXPECT_FALSE(library.Load());
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(name, "kept");
  EXPECT_EQ(input, 4);
  EXPECT_TRUE(library.loaded_path().empty());
  size_t first = errors.find("/nonexistent/libVelk_DDK.so");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(errors.find("cannot load", first + 1), std::string::npos) << errors;
}

TEST(DeviceLibraryMissingTest, SearchOrderHonoursTheEnvironmentVariable) {
  setenv("VELK_DDK_LIBRARY", "/nonexistent/elsewhere.so", 1);
  DdkLibrary missing;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(missing.Load());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("elsewhere.so"), std::string::npos);
  setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
  DdkLibrary found;
  EXPECT_TRUE(found.Load());
  EXPECT_EQ(found.loaded_path(), VELK_DDK_SIM);
  unsetenv("VELK_DDK_LIBRARY");
  DdkLibrary beside;  // the test runs in the folder the build puts the library in
  EXPECT_TRUE(beside.Load());
  EXPECT_EQ(std::filesystem::path(beside.loaded_path()).filename(), "libVelk_DDK.so");
}

TEST(DeviceLibraryMissingTest, MissingFunctionsFallBackOneByOne) {
  // The partial library has only Device_Init, Device_GetName and Device_Collect, and the
  // last two misbehave: a name without terminator, an input outside 1..200.
  DdkLibrary library(VELK_DDK_PARTIAL);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(library.Load());
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Device_Value missing"), std::string::npos);
  EXPECT_NE(errors.find("Device_PreInit missing"), std::string::npos);
  EXPECT_EQ(errors.find("Device_Init missing"), std::string::npos);
  EXPECT_EQ(library.Device_Init(1, "x", 0), 0);
  double v = 0;
  EXPECT_LT(library.Device_Value(1, 1, v), 0);
  EXPECT_EQ(library.Device_Trigger(1, 0), 0);
  library.Device_PreInit();
  library.Device_Setup(1, "x", 0);
  library.Device_LimitCheck(1, 1, 2, 1, 0);
  library.Device_DeInit();

  std::string name;
  ASSERT_EQ(library.Device_GetName(1, "x", 1, 1, 0, name), 0);
  EXPECT_EQ(name, std::string(199, 'n'));  // ends at the buffer, trailing blank dropped
  std::string unit = "kept";
  EXPECT_FALSE(library.Device_Unit("x", 1, 1, unit));  // a library without units
  EXPECT_EQ(unit, "kept");

  int16_t input = 1;
  ASSERT_EQ(library.Device_Collect(1, input, v), 0);
  EXPECT_EQ(input, 999);  // passed through as the library returned it
  EXPECT_FALSE(IsValidCollectInput(input));
  EXPECT_FALSE(IsValidCollectInput(0));
  EXPECT_TRUE(IsValidCollectInput(1));
  EXPECT_TRUE(IsValidCollectInput(200));
  EXPECT_FALSE(IsValidCollectInput(201));
}

}  // namespace
