// printf-style formatting into a std::string, for the texts of this subsystem.
#pragma once

#include <glib.h>

#include <string>

std::string printf_string(const char* format, ...) G_GNUC_PRINTF(1, 2);
