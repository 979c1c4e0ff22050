// A font kept as a group of values under one key: "CharSet", "Color", "Height", "Name", "Pitch",
// "Size" (integers but for "Name") and "Style" (see EncodeFontStyle). Each value is its own read
// or write; a missing value takes the default of FontValue.
#pragma once

#include <string_view>

#include "desktop/font_value.h"

namespace dovrik {

// Reads into a fresh font at the screen's resolution and assigns it to font in one step. The size
// is read after the height, so a stored size decides the height. Always true; a value of the wrong
// type raises ERegistryException and leaves font unchanged.
bool LoadFontFromRegistry(FontValue& font, std::string_view key_name);
// Writes the seven values in one replacement of the store: all of them or, on a failure, none.
// Always true; a store failure raises ERegistryException.
bool SaveFontToRegistry(const FontValue& font, std::string_view key_name);

}  // namespace dovrik
