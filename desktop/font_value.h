// A font as Dovrik stores it: every attribute the font values of the store carry, with the
// toolkit's rule that size (points) and height (pixels) follow each other at a resolution.
#pragma once

#include <QColor>
#include <QFont>
#include <cstdint>
#include <string>
#include <string_view>

namespace dovrik {

enum class FontPitch : std::int32_t { kDefault = 0, kVariable = 1, kFixed = 2 };

// Colours as 32-bit toolkit colours: 0x00BBGGRR, or a system colour index with bit 31 set.
inline constexpr std::uint32_t kSystemColorFlag = 0x80000000;
inline constexpr std::uint32_t kColorWindowText = 0x80000008;

struct FontStyles {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike_out = false;
  bool operator==(const FontStyles&) const = default;
};

// The "Style" text: one character per style (bold, italic, underline, strike-out), "0" when not
// set, else the letter of "Vemo" at that position. Reading counts any character but "0" as set,
// pads a short text with "0000" and ignores what follows the fourth character.
std::string EncodeFontStyle(const FontStyles& styles);
FontStyles DecodeFontStyle(std::string_view text);

// Rounded a * b / c, halves away from zero, as the toolkit converts sizes; -1 when c is 0 or the
// result is beyond +-(2^31 - 1).
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

class FontValue {
 public:
  // The default display font: "MS Sans Serif", 8 points, window-text colour, character set 1.
  explicit FontValue(int pixels_per_inch = 96);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::int32_t Size() const { return size_; }
  void SetSize(std::int32_t points);  // also sets the height
  std::int32_t Height() const { return height_; }
  void SetHeight(std::int32_t pixels);  // also sets the size; negative: without internal leading
  std::uint32_t Color() const { return color_; }
  void SetColor(std::uint32_t color) { color_ = color; }
  std::int32_t CharSet() const { return charset_; }
  void SetCharSet(std::int32_t charset) { charset_ = charset & 0xff; }
  FontPitch Pitch() const { return pitch_; }
  void SetPitch(FontPitch pitch) { pitch_ = pitch; }
  const FontStyles& Styles() const { return styles_; }
  void SetStyles(const FontStyles& styles) { styles_ = styles; }
  int PixelsPerInch() const { return ppi_; }

  bool operator==(const FontValue&) const = default;

  // For display. A QFont has no colour and no character set; those stay in the value.
  QFont ToQFont() const;
  QColor ToQColor() const { return ToQColor(color_); }
  // Takes face, size, styles and pitch from a font chosen in a font dialog.
  void AssignQFont(const QFont& font);

  // System colours resolve through the application palette (a QGuiApplication must exist).
  static QColor ToQColor(std::uint32_t color);
  static std::uint32_t FromQColor(const QColor& color);  // an RGB toolkit colour
  // The logical resolution of the primary screen, 96 without one.
  static int ScreenPixelsPerInch();

 private:
  int ppi_;
  std::string name_ = "MS Sans Serif";
  std::int32_t size_ = 8;
  std::int32_t height_;
  std::uint32_t color_ = kColorWindowText;
  std::int32_t charset_ = 1;
  FontPitch pitch_ = FontPitch::kDefault;
  FontStyles styles_;
};

}  // namespace dovrik
