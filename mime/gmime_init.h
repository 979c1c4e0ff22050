// GMime is started once per process, on first use, from whichever thread gets there first.
#pragma once

#include <gmime/gmime.h>

namespace dovrik::mime {

// Safe from any thread and at any time; later calls return at once. GMime stays started until the
// process ends (it is never shut down: other threads may still be decoding).
void EnsureGMime();

// Parser options for display: lenient about encoded words, UTF-8 then windows-1252 for 8-bit
// bytes nobody declared. Shared and read-only after the first call.
GMimeParserOptions* DisplayParserOptions();

}  // namespace dovrik::mime
