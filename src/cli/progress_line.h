// What detect and plot show while they read a recording through, as analyze shows it.
#pragma once

#include <glib.h>

#include <string>

// The "Analyzing... [NN%]" line on standard error, rewritten in place at most 30 times a
// second. user_data: a gint64 holding the time of the last line shown (0 at the start).
void progress_line_show(void* user_data, double fraction);

// Whether anything (a file, a folder, a dangling link) is at path: what a command that
// never replaces its output asks before it writes.
bool progress_line_path_taken(const std::string& path);
