// The one place that knows every format module: it offers a path to each in turn and
// hands every later call on an opened file to the module that opened it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/format.h"

void format_init();
// Offers path to every module in turn, until one opens it or finds it damaged. nullptr with a
// reason: the system's when the file cannot be opened at all, else "File format
// unknown/not supported"; a damaged file has had a warning with the module's reason.
AudioFilePtr format_open_file(const std::string& path, ErrorText* error);
// Whether extension (".flac", ".cdda.raw"; any ASCII case) is one a module reads by.
bool format_is_audio_extension(std::string_view extension);
// The cue sheet file carries (see EmbeddedSheet); nullopt when it carries none.
std::optional<EmbeddedSheet> format_embedded_sheet(AudioFile& file);
void format_close_file(AudioFilePtr file);
std::int64_t format_read_data(AudioFile& file, std::span<std::uint8_t> buffer,
                              std::uint64_t offset);
int format_write_range(AudioFile& file, const TrackRequest& request);
// Writes the track of request (its out is ignored) into a new file at request.path: the module
// writes a temporary file beside it, which replaces request.path only once it is complete.
// 0 on success; -1, with a warning naming request.path and the reason, otherwise.
int format_write_track(AudioFile& file, TrackRequest request);
void format_list_modules();
// The names of the modules that honour TrackRequest::frame_copy, joined by ", ".
std::string format_frame_copy_names();
