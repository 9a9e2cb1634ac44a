// The main window's origin on odd and small screens and the children placed from thin borders;
// the end-to-end suite shows the usual screen and 3-pixel borders.
#include <gtest/gtest.h>

#include <array>

#include "ui/layout.h"

TEST(Layout, CentresTheWindowAndPlacesChildrenFromItsFrame) {
  // -6.5 and 346.5 truncate toward zero.
  EXPECT_EQ(WindowOrigin(1025, 769).x, 346);
  EXPECT_EQ(WindowOrigin(1025, 769).y, 278);
  EXPECT_EQ(WindowOrigin(300, 200).x, -16);
  EXPECT_EQ(WindowOrigin(300, 200).y, -6);
  // The line between the halves from 1-pixel borders; 329 / 2 truncates.
  const LayoutRect r = PlaceChild(Placement::LineBetweenHalves, {}, {1, 1, 330, 211});
  EXPECT_EQ((std::array<int, 4>{r.x, r.y, r.width, r.height}),
            (std::array<int, 4>{164, 54, 0, 157}));
}
