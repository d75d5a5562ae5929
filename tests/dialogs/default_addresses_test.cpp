#include "default_addresses.h"

#include <gtest/gtest.h>

namespace {

// count inputs: device 1 inputs 1..min(count, 120), then device 2 from input 1.
std::vector<DeviceInput> Inputs(int count) {
  std::vector<DeviceInput> inputs;
  for (int c = 0; c < count; ++c) {
    inputs.push_back({static_cast<int16_t>(1 + c / 120), static_cast<int16_t>(1 + c % 120), ""});
  }
  return inputs;
}

struct Expected {
  int device, number;
  int16_t state;
  const char* commandAdr;
  const char* meaValAdr;
};

void Check(const SettingsRecord& s, std::initializer_list<Expected> expected) {
  for (const Expected& e : expected) {
    const InputRecord& r = s.Inputs[e.device][e.number];
    SCOPED_TRACE(std::to_string(e.device) + "." + std::to_string(e.number));
    EXPECT_EQ(r.State, e.state);
    EXPECT_EQ(r.FS, e.state);
    EXPECT_EQ(r.CommandAdr, e.commandAdr);
    EXPECT_EQ(r.MeaValAdr, e.meaValAdr);
  }
}

SettingsRecord WithFormat(int format, int count) {
  SettingsRecord s;
  for (auto& device : s.Inputs) {
    for (auto& input : device) input = {1, 1, "old", "old"};
  }
  s.CommandFormat = static_cast<int16_t>(format);
  AssignDefaultAddresses(s, Inputs(count));
  return s;
}

}  // namespace

TEST(DefaultAddresses, Format0GivesEightInputsTensAsValueAddresses) {
  SettingsRecord s = WithFormat(0, 10);
  Check(s, {{1, 1, 1, "1", "10"}, {1, 8, 1, "8", "80"}, {1, 9, 0, "", ""}, {1, 10, 0, "", ""}});
}

TEST(DefaultAddresses, Format1CountsGroupsOfEight) {
  SettingsRecord s = WithFormat(1, 130);
  Check(s, {{1, 1, 1, "1.1", "11"},
            {1, 8, 1, "1.8", "18"},
            {1, 9, 1, "2.1", "21"},
            {1, 64, 1, "8.8", "88"},
            {1, 65, 0, "", ""}});
}

TEST(DefaultAddresses, Formats2To5) {
  Check(WithFormat(2, 5), {{1, 3, 1, "3", "3"}, {1, 4, 0, "", ""}});
  Check(WithFormat(3, 12),
        {{1, 8, 1, "8", "8"}, {1, 9, 1, "X", "X"}, {1, 10, 1, "Y", "Y"}, {1, 11, 0, "", ""}});
  // Running numbers continue across devices: number 121 is device 2, input 1.
  Check(WithFormat(4, 125), {{1, 1, 1, "1", "01"},
                             {1, 9, 1, "9", "09"},
                             {1, 10, 1, "10", "10"},
                             {1, 99, 1, "99", "99"},
                             {1, 100, 0, "", ""},
                             {2, 1, 0, "", ""}});
  Check(WithFormat(5, 3), {{1, 1, 1, "", ""}, {1, 2, 0, "", ""}});
}

TEST(DefaultAddresses, OwnFormatUsesEveryInputAndUnknownFormatsClearAll) {
  Check(WithFormat(kOwnCommandFormat, 122), {{1, 120, 1, "120", "120"}, {2, 2, 1, "122", "122"}});
  SettingsRecord s = WithFormat(6, 10);
  Check(s, {{1, 1, 0, "", ""}, {1, 10, 0, "", ""}});
  // Every stored input 1..200 of devices 1..8 is cleared, listed or not; the unused
  // elements outside them are left alone.
  Check(s, {{8, 200, 0, "", ""}});
  EXPECT_EQ(s.Inputs[0][1].CommandAdr, "old");
  EXPECT_EQ(s.Inputs[1][201].CommandAdr, "old");
}
