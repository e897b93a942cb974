// raw big-endian CD audio.
#pragma once

#include "formats/format.h"

// The module's descriptor, or nullptr while the module is not available.
const FormatModule* cdda_module();
