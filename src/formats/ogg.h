// Ogg Vorbis, decoded through libvorbisfile.
#pragma once

#include "formats/format.h"

// The module's descriptor, or nullptr while the module is not available.
const FormatModule* ogg_module();
