// Facts about the project that several subsystems print.
#pragma once

inline constexpr const char* TFOLD_VERSION = "0.16";
// The project's home; the TXT break-list header points into it.
inline constexpr const char* TFOLD_WEB_ADDRESS = "https://trackfold.org/";
inline constexpr const char* TFOLD_WEB_HOST = "https://trackfold.org";
