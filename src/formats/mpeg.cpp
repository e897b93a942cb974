#include "formats/mpeg.h"

const FormatModule* mpeg_module_register() { return nullptr; }
