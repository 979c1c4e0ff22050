#include "desktop/font_value.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace dovrik {

std::string EncodeFontStyle(const FontStyles& styles) {
  std::string text = "0000";
  if (styles.bold) text[0] = 'V';
  if (styles.italic) text[1] = 'e';
  if (styles.underline) text[2] = 'm';
  if (styles.strike_out) text[3] = 'o';
  return text;
}

FontStyles DecodeFontStyle(std::string_view text) {
  std::string padded(text);
  if (padded.size() < 4) padded += "0000";
  return FontStyles{padded[0] != '0', padded[1] != '0', padded[2] != '0', padded[3] != '0'};
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t num = static_cast<std::int64_t>(a) * b;
  const std::int64_t den = c;
  std::int64_t q = (std::llabs(num) * 2 + std::llabs(den)) / (std::llabs(den) * 2);
  if ((num < 0) != (den < 0)) q = -q;
  // A result that doesn't fit gives -1, as the toolkit's MulDiv does. The bound is symmetric, so
  // the size-to-height conversions can negate any result.
  if (q > INT32_MAX || q < -INT32_MAX) return -1;
  return static_cast<std::int32_t>(q);
}

FontValue::FontValue(int pixels_per_inch)
    : ppi_(pixels_per_inch > 0 ? pixels_per_inch : 96), height_(-MulDiv(size_, ppi_, 72)) {}

void FontValue::setSize(std::int32_t points) {
  size_ = points;
  height_ = -MulDiv(points, ppi_, 72);
}

void FontValue::setHeight(std::int32_t pixels) {
  height_ = pixels;
  size_ = -MulDiv(pixels, 72, ppi_);
}

QFont FontValue::toQFont() const {
  QFont font(QString::fromStdString(name_));
  if (size_ > 0) {
    font.setPointSize(size_);
  } else if (height_ != 0) {
    font.setPixelSize(std::abs(height_));
  }
  font.setBold(styles_.bold);
  font.setItalic(styles_.italic);
  font.setUnderline(styles_.underline);
  font.setStrikeOut(styles_.strike_out);
  if (pitch_ != FontPitch::kDefault) font.setFixedPitch(pitch_ == FontPitch::kFixed);
  return font;
}

void FontValue::assignQFont(const QFont& font) {
  name_ = font.family().toStdString();
  if (font.pointSize() > 0) {
    setSize(font.pointSize());
  } else if (font.pixelSize() > 0) {
    setHeight(-font.pixelSize());
  }
  styles_ = FontStyles{font.bold(), font.italic(), font.underline(), font.strikeOut()};
  if (font.fixedPitch()) {
    pitch_ = FontPitch::kFixed;
  } else if (pitch_ == FontPitch::kFixed) {
    pitch_ = FontPitch::kDefault;
  }
}

QColor FontValue::toQColor(std::uint32_t color) {
  if ((color & kSystemColorFlag) == 0) {
    return QColor(static_cast<int>(color & 0xff), static_cast<int>((color >> 8) & 0xff),
                  static_cast<int>((color >> 16) & 0xff));
  }
  const QPalette palette = QGuiApplication::palette();
  auto role = [&](QPalette::ColorRole r) { return palette.color(QPalette::Active, r); };
  switch (color & 0xff) {
    case 1:
      return role(QPalette::Shadow);  // desktop background
    case 5:
      return role(QPalette::Base);  // window background
    case 6:
      return role(QPalette::Shadow);  // window frame
    case 7:
      return role(QPalette::Text);  // menu text
    case 8:
      return role(QPalette::Text);  // window text
    case 9:
      return role(QPalette::HighlightedText);  // caption text
    case 13:
      return role(QPalette::Highlight);  // highlight
    case 14:
      return role(QPalette::HighlightedText);  // highlighted text
    case 15:
      return role(QPalette::Button);  // button face
    case 16:
      return role(QPalette::Mid);  // button shadow
    case 17:
      return palette.color(QPalette::Disabled, QPalette::Text);  // grey text
    case 18:
      return role(QPalette::ButtonText);  // button text
    case 20:
      return role(QPalette::Light);  // button highlight
    case 23:
      return role(QPalette::ToolTipText);  // info text
    case 24:
      return role(QPalette::ToolTipBase);  // info background
    default:
      return role(QPalette::WindowText);
  }
}

std::uint32_t FontValue::fromQColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<std::uint32_t>(rgb.red()) | (static_cast<std::uint32_t>(rgb.green()) << 8) |
         (static_cast<std::uint32_t>(rgb.blue()) << 16);
}

int FontValue::screenPixelsPerInch() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
      if (dpi > 0) return dpi;
    }
  }
  return 96;
}

}  // namespace dovrik
