// The console side of a split job: the overwrite question, with its streams as parameters so
// it can be driven without a terminal.
#pragma once

#include <cstdio>
#include <string>

// Asks on out whether path may be overwritten until in delivers one of y, n, a or s, and
// returns the matching OverwriteAnswer. The end of in answers "skip all": nothing is
// overwritten without a yes, and the job can still go on to its end. With whole_lines (a
// terminal, where people type a word and Enter), one line is one answer: its first character,
// the rest of the line dropped; otherwise every character counts, as scripts feed them.
int console_ask_overwrite(const std::string& path, std::FILE* in, std::FILE* out,
                          bool whole_lines = false);
