// Where the main window sits on a screen and where its border-derived children go.
#include <gtest/gtest.h>

#include <array>

#include "ui/layout.h"

namespace {

TEST(Layout, CentresTheWindowAndPlacesChildrenFromItsFrame) {
  // Screen width and height, then x and y; -6.5 truncates toward zero.
  const int origins[][4] = {{1024, 768, 346, 277}, {1025, 769, 346, 278}, {300, 200, -16, -6}};
  for (const auto& o : origins) {
    const LayoutPoint at = WindowOrigin(o[0], o[1]);
    EXPECT_EQ(std::make_pair(at.x, at.y), std::make_pair(o[2], o[3])) << o[0] << "x" << o[1];
  }
  // Placement, border, client width and height, then the rectangle; 329 / 2 truncates.
  const int children[][8] = {{0, 3, 326, 207, 172, 142, 68, 26}, {1, 3, 326, 207, 3, 52, 323, 0},
                             {2, 3, 326, 207, 161, 56, 0, 151},  {3, 3, 326, 207, 0, 0, 326, 207},
                             {1, 1, 330, 211, 1, 52, 329, 0},    {2, 1, 330, 211, 164, 54, 0, 157}};
  for (const auto& c : children) {
    const LayoutRect r =
        PlaceChild(static_cast<Placement>(c[0]), {172, 142, 68, 26}, {c[1], c[1], c[2], c[3]});
    EXPECT_EQ((std::array<int, 4>{r.x, r.y, r.width, r.height}),
              (std::array<int, 4>{c[4], c[5], c[6], c[7]}))
        << "placement " << c[0] << ", border " << c[1];
  }
}

}  // namespace
