// The main window's origin on odd and small screens and a line placed from thin borders; the
// end-to-end suite shows the usual screen and 3-pixel borders.
#include <gtest/gtest.h>

#include "ui/layout.h"

TEST(Layout, TruncatesTowardZeroOnOddScreensAndBorders) {
  EXPECT_EQ(WindowOrigin(1025, 769).x, 346);  // 346.5
  EXPECT_EQ(WindowOrigin(300, 200).y, -6);    // -6.5
  const LayoutRect line = PlaceChild(Placement::LineBetweenHalves, {}, {1, 1, 330, 211});
  EXPECT_EQ(line.x, 164);  // 329 / 2
  EXPECT_EQ(line.height, 157);
}
