#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/messages.h"

namespace {

struct MessagesFixture : testing::Test {
  MessageHistory h;
  void SetUp() override { message_history_clear(h); }
};

using Messages = MessagesFixture;

}  // namespace

TEST_F(Messages, LongTextIsCutTo127Characters) {
  std::string text(200, 'x');
  text[126] = 'y';
  message_history_add(h, text.c_str(), 0.0, 5);
  std::string stored = message_history_line(h, 0);
  EXPECT_EQ(stored.size(), 127u);
  EXPECT_EQ(stored.back(), 'y');
}

TEST_F(Messages, LinesVanishAfterTwoThenEveryFiveSeconds) {
  for (const char* m : {"one", "two", "three"}) message_history_add(h, m, 10.0, 5);
  EXPECT_EQ(h.visible, 3);
  std::vector<double> vanished;
  int visible = h.visible;
  for (int frame = 1; frame <= 2000; frame++) {
    double now = 10.0 + frame * 0.01;
    message_history_expire(h, now);
    if (h.visible < visible) {
      vanished.push_back(now - 10.0);
      visible = h.visible;
    }
  }
  ASSERT_EQ(vanished.size(), 3u);
  EXPECT_NEAR(vanished[0], 2.0, 0.011);
  EXPECT_NEAR(vanished[1], 7.0, 0.021);
  EXPECT_NEAR(vanished[2], 12.0, 0.031);
}

TEST_F(Messages, VisibleLinesAreLimitedBySetting) {
  for (int i = 0; i < 8; i++) message_history_add(h, "m", 0.0, 5);
  EXPECT_EQ(h.visible, 5);
  message_history_add(h, "m", 0.0, 2);
  EXPECT_EQ(h.visible, 5);  // already more than the new limit: stays
}

TEST_F(Messages, RingWrapsAfterThousandLines) {
  for (int i = 0; i < 1001; i++) {
    std::string m = "line " + std::to_string(i);
    message_history_add(h, m.c_str(), 0.0, 5);
  }
  EXPECT_STREQ(h.lines[0], "line 1000");
  EXPECT_STREQ(h.lines[1], "line 1");
  EXPECT_EQ(h.write_index, 1);
  EXPECT_STREQ(message_history_line(h, 0), "line 1000");
  EXPECT_STREQ(message_history_line(h, 1), "line 999");
}
