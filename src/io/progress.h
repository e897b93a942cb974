// How a long write tells how far it is.
#pragma once

// Called with 0.0 before a copy, with the fraction done after each piece, and 1.0 at the end.
using WriteProgressFunc = void (*)(void* user_data, double fraction);

// Reports fraction through progress, which may be null (no one is listening).
inline void progress_report(WriteProgressFunc progress, void* user_data, double fraction) {
  if (progress != nullptr) progress(user_data, fraction);
}
