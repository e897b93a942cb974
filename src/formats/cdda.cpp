#include "formats/cdda.h"

const FormatModule* cdda_module() { return nullptr; }
