#include "desktop/font_registry.h"

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
  // One replacement of the store for the whole group, so a crash or a full disk part-way never
  // leaves a font that is half old and half new.
  auto integer = [](const char* name, std::int32_t v) {
    return RegValue{name, RegType::kDword, {}, static_cast<std::uint32_t>(v)};
  };
  auto text = [](const char* name, std::string v) {
    return RegValue{name, RegType::kString, std::move(v), 0};
  };
  WriteRegValues(key_name, {
                               integer("CharSet", font.CharSet()),
                               integer("Color", static_cast<std::int32_t>(font.Color())),
                               integer("Height", font.Height()),
                               text("Name", font.Name()),
                               integer("Pitch", static_cast<std::int32_t>(font.Pitch())),
                               integer("Size", font.Size()),
                               text("Style", EncodeFontStyle(font.Styles())),
                           });
  return true;
}

}  // namespace dovrik
