// The window's layout on odd and small screens and thin borders; end to end shows the usual ones.
#include <gtest/gtest.h>

#include "ui/layout.h"

TEST(Layout, TruncatesTowardZeroOnOddScreensAndBorders) {
  EXPECT_EQ(WindowOrigin(1025, 769).x, 346);  // 346.5
  EXPECT_EQ(WindowOrigin(300, 200).y, -6);    // -6.5
  const LayoutRect line = PlaceChild(Placement::LineBetweenHalves, {}, {1, 1, 330, 211});
  EXPECT_EQ(line.x, 164);  // 329 / 2
  EXPECT_EQ(line.height, 157);
}
