#pragma once
// Writing a line of text onto a grey picture (the exposure time on a stack, the date on the
// web-monitor picture) and reducing a picture's size, without a window system: the pictures
// are also made by the command line on a machine without a display.

#include <string>

#include "imaging/display.h"

namespace noctarbel {

// Writes `text` in white (the highest palette index, or 255 for grey values) with its top
// left corner at (x, y) and letters `height` pixels high, in a plain 5 x 7 dot font scaled
// to the height. Letters are written in capitals; characters the font lacks show as blanks.
void DrawText(Bitmap8& picture, int x, int y, int height, const std::string& text, std::uint8_t white = 255);

// A reduced copy `width` pixels wide (height in proportion), each pixel the mean of the
// pixels it covers; a picture that is not wider is copied as it is.
Bitmap8 ReduceToWidth(const Bitmap8& picture, int width);

}  // namespace noctarbel
