#include "breaks/break_file.h"

#include <glib.h>

#include <string_view>

#include "breaks/cue.h"
#include "breaks/embedded_sheet.h"
#include "breaks/toc.h"
#include "breaks/txt.h"

namespace {

bool has_suffix(std::string_view path, std::string_view suffix) { return path.ends_with(suffix); }

// A file that is no cue sheet or TOC file at all may still be a plain break list under
// another name; its text is read once, so whatever reading it said is said once.
int parsed_or_fall_back(ReadOutcome outcome, const char* kind, std::string_view text,
                        const std::string& path, TrackBreakList& list, const BreakFileReading& reading) {
  if (outcome == ReadOutcome::Read) return 1;
  if (outcome == ReadOutcome::Refused) return 0;
  const int result = txt_parse(text, path, list, reading);
  if (result != 0) g_warning("%s is no %s; read it as a plain break list", path.c_str(), kind);
  return result;
}

}  // namespace

int track_break_list_read(const std::string& path, TrackBreakList& list,
                          const BreakFileReading& reading) {
  // An audio file is recognised by its bytes, whatever its name: its list is the sheet it
  // carries.
  if (const std::optional<int> result = embedded_sheet_read(path, list, reading)) return *result;
  const BreakFileText file = break_file_read(path, list, reading);
  if (!break_file_readable(file, path)) return 0;
  if (has_suffix(path, ".toc") || has_suffix(path, ".TOC")) {
    return parsed_or_fall_back(toc_file_parse(file.text, path, list, reading), "TOC file", file.text,
                               path, list, reading);
  }
  if (has_suffix(path, ".cue") || has_suffix(path, ".CUE")) {
    return parsed_or_fall_back(cue_sheet_parse(file.text, path, list, reading), "cue sheet",
                               file.text, path, list, reading);
  }
  return txt_parse(file.text, path, list, reading);
}

std::string track_break_list_text(const std::string& path, const std::string& audio_filename,
                                  const TrackBreakList& list) {
  if (has_suffix(path, ".toc")) return track_break_list_toc_text(audio_filename, list);
  if (has_suffix(path, ".cue")) return track_break_list_cue_text(audio_filename, list);
  return track_break_list_txt_text(audio_filename, list);
}

int track_break_list_write(const std::string& path, const std::string& audio_filename,
                           const TrackBreakList& list) {
  if (has_suffix(path, ".toc")) return track_break_list_write_toc(path, audio_filename, list);
  if (has_suffix(path, ".cue")) return track_break_list_write_cue(path, audio_filename, list);
  return track_break_list_write_txt(path, audio_filename, list);
}
