#include "desktop/font_registry.h"

#include "settings/registry.h"

namespace dovrik {

bool LoadFontFromRegistry(FontValue& font, std::string_view key_name) {
  FontValue temp(FontValue::screenPixelsPerInch());
  const FontValue defaults(temp.pixelsPerInch());
  temp.setCharSet(ReadRegInteger(key_name, "CharSet", defaults.charSet()));
  temp.setColor(static_cast<std::uint32_t>(
      ReadRegInteger(key_name, "Color", static_cast<std::int32_t>(defaults.color()))));
  temp.setHeight(ReadRegInteger(key_name, "Height", defaults.height()));
  temp.setName(ReadRegString(key_name, "Name", defaults.name()));
  const std::int32_t pitch =
      ReadRegInteger(key_name, "Pitch", static_cast<std::int32_t>(defaults.pitch()));
  // Only the three pitches exist; anything else stored is taken as the default pitch.
  temp.setPitch(pitch >= 0 && pitch <= 2 ? static_cast<FontPitch>(pitch) : FontPitch::kDefault);
  temp.setSize(ReadRegInteger(key_name, "Size", defaults.size()));
  temp.setStyles(DecodeFontStyle(ReadRegString(key_name, "Style", "0000")));
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
                               integer("CharSet", font.charSet()),
                               integer("Color", static_cast<std::int32_t>(font.color())),
                               integer("Height", font.height()),
                               text("Name", font.name()),
                               integer("Pitch", static_cast<std::int32_t>(font.pitch())),
                               integer("Size", font.size()),
                               text("Style", EncodeFontStyle(font.styles())),
                           });
  return true;
}

}  // namespace dovrik
