#include <gtest/gtest.h>

#include "notation_preview_text.h"

TEST(NotationPreview, CommandsShowTheChannelPlaceholderAndControlBytes) {
  EXPECT_EQ(NotationPreviewText("\"M\",<ch>,13", NotationKind::Command, false), "M<ch>\\r");
  EXPECT_EQ(NotationPreviewText("\"M*\",13,10", NotationKind::Command, false), "M*\\r\\n");
  EXPECT_EQ(NotationPreviewText("27,&H7F,0,9,\"a\\b\"", NotationKind::Command, false),
            "\\x1B\\x7F\\x00\\ta\\\\b");
  EXPECT_EQ(NotationPreviewText("", NotationKind::Command, false), "");
  // A literal text that merely looks like a placeholder is not one.
  EXPECT_EQ(NotationPreviewText("\"<ch>\"", NotationKind::Command, false), "<ch>");
}

TEST(NotationPreview, BlanksDropOnlyFromCommandsWhenSwitchedOn) {
  EXPECT_EQ(NotationPreviewText("\"A B\", < ch >", NotationKind::Command, true), "AB<ch>");
  EXPECT_EQ(NotationPreviewText("\"A B\"", NotationKind::Command, false), "A B");
  EXPECT_EQ(NotationPreviewText("\"A B\"", NotationKind::Answer, true), "A B");
}

TEST(NotationPreview, AnswerTemplatesShowTheValuePlaceholder) {
  EXPECT_EQ(NotationPreviewText("<ch>,\":\", <mv> ,13", NotationKind::AnswerTemplate, false),
            "<ch>:<mv>\\r");
  EXPECT_EQ(NotationPreviewText("<mv>", NotationKind::Answer, false), "");
  EXPECT_EQ(NotationPreviewText("<mv>,<mv>", NotationKind::AnswerTemplate, false), "<mv><mv>");
  // The last character joins the last item, so "<mv>," is no placeholder.
  EXPECT_EQ(NotationPreviewText("65,<mv>,", NotationKind::AnswerTemplate, false), "A");
  EXPECT_EQ(NotationPreviewText("\"\xE4\",160", NotationKind::Answer, false), "\xC3\xA4\\xA0");
}
