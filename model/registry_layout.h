// Where Dovrik keeps its values in the registry store, and the defaults it puts in their place:
// the names the desktop half uses, taken from the one table of stored values.
#pragma once

#include "settings/stored_values.h"

namespace dovrik {

using stored::kBaseFontKey;
using stored::kDefaultRecipient;
using stored::kDefaultSender;
using stored::kDefaultServer;
using stored::kProgramKey;

}  // namespace dovrik
