#include "formats/ogg.h"

const FormatModule* ogg_module() { return nullptr; }
