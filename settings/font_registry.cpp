#include "settings/font_registry.h"

#include "settings/registry.h"

namespace dovrik {

bool LoadFontFromRegistry(FontValue& font, std::string_view key_name) {
  FontValue temp(FontValue::ScreenPixelsPerInch());
  const FontValue defaults(temp.PixelsPerInch());
  temp.SetCharSet(ReadRegInteger(key_name, "CharSet", defaults.CharSet()));
  temp.SetColor(static_cast<std::uint32_t>(
      ReadRegInteger(key_name, "Color", static_cast<std::int32_t>(defaults.Color()))));
  temp.SetHeight(ReadRegInteger(key_name, "Height", defaults.Height()));
  temp.SetName(ReadRegString(key_name, "Name", defaults.Name()));
  const std::int32_t pitch =
      ReadRegInteger(key_name, "Pitch", static_cast<std::int32_t>(defaults.Pitch()));
  // Only the three pitches exist; anything else stored is taken as the default pitch.
  temp.SetPitch(pitch >= 0 && pitch <= 2 ? static_cast<FontPitch>(pitch) : FontPitch::kDefault);
  temp.SetSize(ReadRegInteger(key_name, "Size", defaults.Size()));
  temp.SetStyles(DecodeFontStyle(ReadRegString(key_name, "Style", "0000")));
  font = temp;
  return true;
}

bool SaveFontToRegistry(const FontValue& font, std::string_view key_name) {
  WriteRegInteger(key_name, "CharSet", font.CharSet());
  WriteRegInteger(key_name, "Color", static_cast<std::int32_t>(font.Color()));
  WriteRegInteger(key_name, "Height", font.Height());
  WriteRegString(key_name, "Name", font.Name());
  WriteRegInteger(key_name, "Pitch", static_cast<std::int32_t>(font.Pitch()));
  WriteRegInteger(key_name, "Size", font.Size());
  WriteRegString(key_name, "Style", EncodeFontStyle(font.Styles()));
  return true;
}

}  // namespace dovrik
