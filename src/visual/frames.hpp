// The spectrum display's frames, drawn into a bitmap from 512 FFT bins.
//
// Heights come from the bins' bit patterns read as unsigned integers: an
// IEEE 754 single's pattern grows by 2^23 for every doubling of its
// magnitude, so B / 1091100 is a logarithmic scale (about 7.69 pixels per
// doubling) with no logarithm computed. Each value is stored as a
// single-precision float before it is compared and rounded (to nearest,
// halves to even), so results match the display pixel for pixel.
//
// Both frames are laid out against h, the display area's height, whatever
// the bitmap's size: what falls outside the bitmap is clipped away. Counts
// above the 512 bins are cut to 512; a count of 0 or below draws only the
// background. Coordinates saturate at the 32-bit range instead of wrapping.
//
// Pure functions of their arguments: no window, player or timer involved.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ui/ui.hpp"

namespace tovarin::visual {

constexpr int kBins = 512;
using Spectrum = std::array<float, kBins>;

// A bin's bit pattern as an unsigned integer.
uint32_t BinBits(float bin);
// Rounds to the nearest integer, a half to the even neighbour.
int64_t RoundEven(float v);

// The bar height of a bin for display height h, before rounding.
float BarValue(float bin, int32_t h);
// A line point's value for bin (points 1..count), and for point 0.
float LinePointValue(float bin, int32_t h);
float LineStartValue(float bin);

// One frame of bars: background, then count bars from x = 1, each width
// pixels wide, standing on y = h.
void DrawBarsFrame(tovui::Bitmap& bitmap, const Spectrum& fft, int32_t h, int32_t count, int32_t width);
// One frame of the line: background, then count segments from x = 0, each
// width pixels apart; point 0 comes from bin 0 unclamped, the last point
// lies on y = h.
void DrawLineFrame(tovui::Bitmap& bitmap, const Spectrum& fft, int32_t h, int32_t count, int32_t width);

// Splits a colour string into fields 1..6 (index 0 unused): each "#" closes
// the field that began after the previous one, taking its first three
// characters (or what is left of the text). Fields that no "#" closes keep
// their earlier text; a seventh and later fields are ignored.
void SplitColorFields(const std::string& text, std::array<std::string, 7>& fields);

}  // namespace tovarin::visual
