#pragma once

// Twips (1440 per inch) and pixels, through the logical DPI of the primary screen:
// 15 twips per pixel at 96 DPI. Positions and sizes of the layouts are given in twips.

namespace platform {

constexpr double TwipsPerInch = 1440.0;

double twipsPerPixelX();
double twipsPerPixelY();

// Pixels are rounded to the nearest whole pixel.
int twipsToPixelsX(double twips);
int twipsToPixelsY(double twips);

double pixelsToTwipsX(double pixels);
double pixelsToTwipsY(double pixels);

}  // namespace platform
