// Queue texts to numbers and numbers to answer texts, the colour string, and
// one display frame drawn from whatever the bytes say.
//
// Input: one selector byte, then the text (or the raw bytes of a number).
// Beyond "no crash, no undefined behaviour", each conversion is checked
// against what must hold whatever the text: a failure carries the text in
// its message; a plain decimal integer text in range converts to what
// strtoll reads; a float answer is finite, or an infinity for a text past
// the float range; decimal answers read back.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format/convert.hpp"
#include "visual/frames.hpp"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

bool PlainDecimal(const std::string& t) {
  size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  if (i == t.size() || t.size() - i > 18) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

void Integer(const std::string& text) {
  try {
    const int32_t v = tovarin::IntegerText(text);
    if (PlainDecimal(text)) Check(v == std::strtoll(text.c_str(), nullptr, 10), "integer equals strtoll");
    // The answer of a conversion reads back to the same value.
    Check(tovarin::IntegerText(tovarin::SignedDecimal(v)) == v, "integer round trip");
  } catch (const tovarin::ConvertError& e) {
    Check(std::string(e.what()) == "'" + text + "' is not a valid integer value", "integer message");
    if (PlainDecimal(text)) {
      const long long ref = std::strtoll(text.c_str(), nullptr, 10);
      Check(ref < INT32_MIN || ref > INT32_MAX, "a decimal in range converts");
    }
  }
}

void Float(const std::string& text, const char* separator) {
  tovarin::SetDecimalSeparator(separator);
  try {
    const float v = tovarin::FloatText(text);
    Check(!std::isnan(v), "float is a number");
    if (std::isinf(v)) {
      // An infinity only for a text beyond the largest float.
      std::string plain = text;
      const size_t at = plain.find(separator[0]);
      if (at != std::string::npos) plain[at] = '.';
      Check(std::fabs(std::strtold(plain.c_str(), nullptr)) > FLT_MAX, "an infinity only past the float range");
    }
  } catch (const tovarin::ConvertError& e) {
    Check(std::string(e.what()) == "'" + text + "' is not a valid floating point value", "float message");
  }
}

template <class T>
T Take(const uint8_t*& data, size_t& size) {
  T v{};
  const size_t n = size < sizeof v ? size : sizeof v;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

void Numbers(const uint8_t* data, size_t size) {
  const uint32_t u = Take<uint32_t>(data, size);
  Check(std::strtoull(tovarin::UnsignedDecimal(u).c_str(), nullptr, 10) == u, "unsigned decimal reads back");
  const double d = Take<double>(data, size);
  const int64_t r = tovarin::RoundEven64(d);
  if (std::isfinite(d) && std::fabs(d) < 9.0e18) Check(std::fabs(static_cast<double>(r) - d) <= 0.5, "rounding");
  (void)tovarin::RoundLow32(d);
  Check(std::strtoll(tovarin::SignedDecimal(r).c_str(), nullptr, 10) == r, "signed decimal reads back");
}

// The colour string as the display takes it: split, then each field an integer text.
void Colours(const std::string& text) {
  std::array<std::string, 7> fields;
  tovarin::visual::SplitColorFields(text, fields);
  for (size_t i = 1; i < fields.size(); ++i) {
    Check(fields[i].size() <= 3, "colour field of at most three characters");
    Integer(fields[i]);
  }
}

// A frame of bars or line with sizes and bins from the input, into a small bitmap.
void Frame(const uint8_t* data, size_t size) {
  const int32_t h = Take<int32_t>(data, size);
  const int32_t count = Take<int32_t>(data, size);
  const int32_t width = Take<int32_t>(data, size);
  const uint8_t shape = Take<uint8_t>(data, size);
  tovarin::visual::Spectrum fft{};
  std::memcpy(fft.data(), data, std::min(size, sizeof fft));
  tovui::Bitmap bitmap(1 + shape % 64, 1 + (shape >> 6) * 40);
  if (shape & 1)
    tovarin::visual::DrawBarsFrame(bitmap, fft, h, count, width);
  else
    tovarin::visual::DrawLineFrame(bitmap, fft, h, count, width);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0] % 6;
  ++data;
  --size;
  // Texts reach the plug-in as zero-terminated strings.
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  switch (mode) {
    case 0: Integer(text); break;
    case 1: Float(text, "."); break;
    case 2: Float(text, ","); break;
    case 3: Numbers(data, size); break;
    case 4: Colours(text); break;
    case 5: Frame(data, size); break;
  }
  return 0;
}
