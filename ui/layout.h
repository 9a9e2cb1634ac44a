// The main window's fixed size, its screen position and the children placed from its borders.
#pragma once

inline constexpr int kWindowWidth = 332;
// Without the caption: the window is this plus SM_CYCAPTION high.
inline constexpr int kWindowHeight = 213;

struct LayoutPoint {
  int x;
  int y;
};

struct LayoutRect {
  int x;
  int y;
  int width;
  int height;
};

// Where a child's rectangle comes from: its own numbers, or the main window's borders and
// client area, which are known only once the window exists.
enum class Placement {
  Fixed,
  LineUnderPaths,     // the etched line under the two path fields
  LineBetweenHalves,  // the etched line between the file list and the progress side
  Frame,              // the etched frame around the whole client area
};

struct FrameMetrics {
  int borderX;  // cxWindowBorders
  int borderY;  // cyWindowBorders
  int clientWidth;
  int clientHeight;
};

// Centres the window on a screen of that size, leaving the caption out of the height; both
// divisions truncate toward zero, so a screen smaller than the window gives a negative origin.
LayoutPoint WindowOrigin(int screenWidth, int screenHeight);

// The client rectangle of a child; `fixed` is used as it is for Placement::Fixed.
LayoutRect PlaceChild(Placement placement, const LayoutRect& fixed, const FrameMetrics& frame);
