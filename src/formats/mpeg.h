// MPEG audio layers I/II/III: decoding through libmpg123, cutting by whole frames.
#pragma once

#include "formats/format.h"

// Initialises libmpg123 once; the descriptor, or nullptr when the library cannot start.
const FormatModule* mpeg_module_register();
