// Where the main window sits on a screen and where its border-derived children go.
#include <gtest/gtest.h>

#include <string>

#include "ui/layout.h"

namespace {

TEST(WindowOriginTest, CentresWithoutCaptionAndTruncatesTowardZero) {
  struct Case {
    int screenWidth, screenHeight, x, y;
  };
  const Case cases[] = {
      {1024, 768, 346, 277}, {1280, 1024, 474, 405},
      {1025, 769, 346, 278},                       // odd remainders are dropped
      {332, 213, 0, 0},      {300, 200, -16, -6},  // -6.5 truncates to -6, not -7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screenWidth) + "x" + std::to_string(c.screenHeight));
    const LayoutPoint origin = WindowOrigin(c.screenWidth, c.screenHeight);
    EXPECT_EQ(origin.x, c.x);
    EXPECT_EQ(origin.y, c.y);
  }
}

TEST(PlaceChildTest, BorderDerivedRowsFollowTheFrame) {
  struct Case {
    const char* name;
    Placement placement;
    FrameMetrics frame;
    LayoutRect expected;
  };
  const LayoutRect fixed{172, 142, 68, 26};
  const Case cases[] = {
      {"fixed ignores the frame", Placement::Fixed, {3, 3, 326, 207}, fixed},
      {"line under paths", Placement::LineUnderPaths, {3, 3, 326, 207}, {3, 52, 323, 0}},
      {"line between halves", Placement::LineBetweenHalves, {3, 3, 326, 207}, {161, 56, 0, 151}},
      {"frame", Placement::Frame, {3, 3, 326, 207}, {0, 0, 326, 207}},
      // Thin borders: the split point truncates (329 / 2).
      {"thin line under paths", Placement::LineUnderPaths, {1, 1, 330, 211}, {1, 52, 329, 0}},
      {"thin line between halves",
       Placement::LineBetweenHalves,
       {1, 1, 330, 211},
       {164, 54, 0, 157}},
      {"thin frame", Placement::Frame, {1, 1, 330, 211}, {0, 0, 330, 211}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LayoutRect rect = PlaceChild(c.placement, fixed, c.frame);
    EXPECT_EQ(rect.x, c.expected.x);
    EXPECT_EQ(rect.y, c.expected.y);
    EXPECT_EQ(rect.width, c.expected.width);
    EXPECT_EQ(rect.height, c.expected.height);
  }
}

}  // namespace
