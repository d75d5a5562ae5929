// The output bound every client line shares: what fits waits in order, what does not is
// dropped whole and counted, and the backlog threshold holds input back.
#include "bounded_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kMax = BoundedOutput::kQueueMax;
constexpr size_t kPause = BoundedOutput::kPauseInput;

std::vector<uint8_t> Bytes(size_t count, uint8_t value) {
  return std::vector<uint8_t>(count, value);
}

TEST(BoundedOutputTest, WhatDoesNotFitIsDroppedWholeAndCounted) {
  const struct {
    const char* name;
    size_t waiting;       // queued before
    size_t also_waiting;  // held elsewhere by the line
    size_t offered;
    bool taken;
  } cases[] = {
      {"fills the bound exactly", kMax - 100, 0, 100, true},
      {"one byte beyond the bound", kMax - 100, 0, 101, false},
      {"output held elsewhere counts", kMax - 200, 100, 100, true},
      {"output held elsewhere counts, one beyond", kMax - 200, 100, 101, false},
      {"larger than the bound on an empty queue", 0, 0, kMax + 1, false},
      {"the whole bound at once", 0, 0, kMax, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BoundedOutput out;
    out.StartClient();
    const std::vector<uint8_t> before = Bytes(c.waiting, 'a');
    ASSERT_TRUE(out.Add(before.data(), before.size()));
    const std::vector<uint8_t> offered = Bytes(c.offered, 'b');
    EXPECT_EQ(out.Add(offered.data(), offered.size(), c.also_waiting), c.taken);
    EXPECT_EQ(out.size(), c.waiting + (c.taken ? c.offered : 0)) << "never a part";
    EXPECT_EQ(out.counters().dropped_bytes, c.taken ? 0u : c.offered);
    if (c.waiting > 0) {
      EXPECT_EQ(out.data()[0], 'a');
    }
    EXPECT_LE(out.size(), kMax);
  }
}

TEST(BoundedOutputTest, BacklogBeginsPastThePauseThreshold) {
  const struct {
    size_t waiting;
    size_t also_waiting;
    bool backlogged;
  } cases[] = {
      {0, 0, false},     {kPause, 0, false},       {kPause + 1, 0, true},
      {kPause, 1, true}, {kPause - 10, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.waiting) + " + " + std::to_string(c.also_waiting));
    BoundedOutput out;
    const std::vector<uint8_t> bytes = Bytes(c.waiting, 'x');
    out.Add(bytes.data(), bytes.size());
    EXPECT_EQ(out.Backlogged(c.also_waiting), c.backlogged);
  }
}

TEST(BoundedOutputTest, CountersFollowTheClientFromItsArrival) {
  BoundedOutput out;
  out.StartClient();
  const auto since = out.counters().since;
  const std::vector<uint8_t> answer = Bytes(300, 'v');
  out.Add(answer.data(), answer.size());
  out.Consume(120);
  out.Consume(1000);  // more than waits: only what waits counts
  out.CountInput(7);
  const std::vector<uint8_t> push = Bytes(kMax + 1, 'p');
  out.Add(push.data(), push.size());
  EXPECT_EQ(out.counters().bytes_out, 300u);
  EXPECT_EQ(out.counters().bytes_in, 7u);
  EXPECT_EQ(out.counters().dropped_bytes, kMax + 1);
  EXPECT_TRUE(out.empty());

  out.Add(answer.data(), answer.size());
  out.Clear();  // discarded, not sent
  EXPECT_EQ(out.counters().bytes_out, 300u);

  out.Add(answer.data(), answer.size());
  out.StartClient();  // the next client starts with nothing and counts from zero
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(out.counters().bytes_in, 0u);
  EXPECT_EQ(out.counters().bytes_out, 0u);
  EXPECT_EQ(out.counters().dropped_bytes, 0u);
  EXPECT_GE(out.counters().since, since);
}

TEST(BoundedOutputTest, ADropEpisodeIsReportedOnceWhenNamedAndCountedAlways) {
  for (const bool named : {true, false}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    BoundedOutput out;
    if (named) out.SetReportName("COM5");
    const std::vector<uint8_t> full = Bytes(kMax, 'f');
    const std::vector<uint8_t> answer = Bytes(10, 'a');
    testing::internal::CaptureStderr();
    out.Add(full.data(), full.size());
    for (int i = 0; i < 3; ++i) out.Add(answer.data(), answer.size());
    out.EndDropEpisode();
    out.EndDropEpisode();  // nothing more dropped: no second line
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.counters().dropped_bytes, 30u);
    if (named) {
      EXPECT_NE(errors.find("COM5: the client does not read its answers (" + std::to_string(kMax) +
                            " bytes wait)"),
                std::string::npos)
          << errors;
      EXPECT_NE(errors.find("COM5: 3 answers (30 bytes) were dropped whole"), std::string::npos)
          << errors;
      EXPECT_EQ(errors.find("dropped whole"), errors.rfind("dropped whole")) << errors;
    } else {
      EXPECT_EQ(errors, "");
    }
  }
}

}  // namespace
