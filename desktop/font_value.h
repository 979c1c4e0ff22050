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

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  std::int32_t size() const { return size_; }
  void setSize(std::int32_t points);  // also sets the height
  std::int32_t height() const { return height_; }
  void setHeight(std::int32_t pixels);  // also sets the size; negative: without internal leading
  std::uint32_t color() const { return color_; }
  void setColor(std::uint32_t color) { color_ = color; }
  std::int32_t charSet() const { return charset_; }
  void setCharSet(std::int32_t charset) { charset_ = charset & 0xff; }
  FontPitch pitch() const { return pitch_; }
  void setPitch(FontPitch pitch) { pitch_ = pitch; }
  const FontStyles& styles() const { return styles_; }
  void setStyles(const FontStyles& styles) { styles_ = styles; }
  int pixelsPerInch() const { return ppi_; }

  bool operator==(const FontValue&) const = default;

  // For display. A QFont has no colour and no character set; those stay in the value.
  QFont toQFont() const;
  QColor toQColor() const { return toQColor(color_); }
  // Takes face, size, styles and pitch from a font chosen in a font dialog.
  void assignQFont(const QFont& font);

  // System colours resolve through the application palette (a QGuiApplication must exist).
  static QColor toQColor(std::uint32_t color);
  static std::uint32_t fromQColor(const QColor& color);  // an RGB toolkit colour
  // The logical resolution of the primary screen, 96 without one.
  static int screenPixelsPerInch();

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
