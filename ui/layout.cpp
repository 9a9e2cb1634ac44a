// The geometry rules of the main window, free of any window system.
#include "ui/layout.h"

LayoutPoint WindowOrigin(int screenWidth, int screenHeight) {
  return {(screenWidth - kWindowWidth) / 2, (screenHeight - kWindowHeight) / 2};
}

LayoutRect PlaceChild(Placement placement, const LayoutRect& fixed, const FrameMetrics& frame) {
  const int lineWidth = frame.clientWidth - frame.borderX;
  const int lineTop = frame.borderY + 53;
  switch (placement) {
    case Placement::Fixed:
      return fixed;
    case Placement::LineUnderPaths:
      return {frame.borderX, 52, lineWidth, 0};
    case Placement::LineBetweenHalves:
      return {lineWidth / 2, lineTop, 0, frame.clientHeight - lineTop};
    case Placement::Frame:
      return {0, 0, kWindowWidth - 2 * frame.borderX, kWindowHeight - 2 * frame.borderY};
  }
  return fixed;
}
