// Whole-file reads and checked writes for the break-list formats.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "io/file.h"

// The rest of the file's bytes; nullopt (errno set) when reading fails.
std::optional<std::string> read_rest_of_file(std::FILE* fp);
// The file opened for writing (created or truncated), or nullptr with errno set.
FilePtr open_for_writing(const std::string& path);
// Writes text and closes the file, checking both: a file that could not be flushed was not
// written. 1 on success, 0 with the warning "Could not write %s: %s".
int write_and_close(FilePtr fp, const std::string& path, std::string_view text);
