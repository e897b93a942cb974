#include "breaks/sheet_audio.h"

#include <glib.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "breaks/cue.h"
#include "breaks/embedded_sheet.h"
#include "breaks/toc.h"
#include "formats/registry.h"

namespace {

bool opens_as_audio(const std::string& path) {
  if (!embedded_sheet_may_be_audio(path)) return false;
  format_init();
  AudioFilePtr file = format_open_file(path, nullptr);
  const bool audio = file != nullptr;
  format_close_file(std::move(file));
  return audio;
}

std::string folder_of(const std::string& path) {
  const std::unique_ptr<char, decltype(&g_free)> folder(g_path_get_dirname(path.c_str()), g_free);
  return folder.get();
}

// A sheet made on Windows may write its folder separators as backslashes.
std::string named_path(const std::string& list_path, std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  if (g_path_is_absolute(name.c_str())) return name;
  const std::string folder = folder_of(list_path);
  return folder == "." ? name : folder + "/" + name;
}

// Files beside the named one with its stem and an extension tfold reads that open as audio: a ripper's sheet names
// album.wav, and the file was compressed to album.flac afterwards.
std::vector<std::string> stand_ins(const std::string& named) {
  const std::string folder = folder_of(named);
  const std::unique_ptr<char, decltype(&g_free)> base(g_path_get_basename(named.c_str()), g_free);
  const std::string_view name = base.get();
  const std::string stem = std::string(name.substr(0, name.rfind('.'))) + ".";
  std::vector<std::string> found;
  GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
  if (dir == nullptr) return found;
  const std::unique_ptr<GDir, decltype(&g_dir_close)> owned(dir, g_dir_close);
  while (const char* entry = g_dir_read_name(dir)) {
    const std::string_view candidate = entry;
    if (!candidate.starts_with(stem) || candidate == name) continue;
    if (!format_is_audio_extension(candidate.substr(stem.size() - 1))) continue;
    const std::string path = folder == "." ? std::string(candidate) : folder + "/" + std::string(candidate);
    if (opens_as_audio(path)) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> names_in(const std::string& list_path, const std::string& text) {
  const std::string_view path = list_path;
  if (path.ends_with(".cue") || path.ends_with(".CUE")) return cue_sheet_files(text);
  if (path.ends_with(".toc") || path.ends_with(".TOC")) return toc_file_audio_files(text);
  return {};
}

}  // namespace

SheetAudio sheet_audio_find(const std::string& list_path, const BreakFileReading& reading) {
  SheetAudio audio;
  if (opens_as_audio(list_path)) {
    audio.found = SheetAudio::Found::Itself;
    audio.path = list_path;
    return audio;
  }
  TrackBreakListPtr scratch = track_break_list_new("");
  const BreakFileText file = break_file_read(list_path, *scratch, reading);
  if (!break_file_readable(file, list_path)) {
    audio.found = SheetAudio::Found::Unreadable;
    return audio;
  }
  std::vector<std::string> names = names_in(list_path, file.text);
  // A sheet may repeat its one file (a FILE line before each track).
  std::vector<std::string> distinct;
  for (std::string& name : names) {
    if (std::find(distinct.begin(), distinct.end(), name) == distinct.end()) distinct.push_back(std::move(name));
  }
  names = std::move(distinct);
  if (names.empty()) return audio;
  if (names.size() > 1) {
    audio.found = SheetAudio::Found::SeveralNames;
    audio.names = names;
    return audio;
  }
  audio.named = named_path(list_path, names.front());
  if (g_file_test(audio.named.c_str(), G_FILE_TEST_EXISTS)) {
    audio.found = SheetAudio::Found::Named;
    audio.path = audio.named;
    return audio;
  }
  audio.names = stand_ins(audio.named);
  if (audio.names.size() == 1) {
    audio.found = SheetAudio::Found::StandIn;
    audio.path = audio.names.front();
  } else {
    audio.found = audio.names.empty() ? SheetAudio::Found::Missing : SheetAudio::Found::Ambiguous;
  }
  return audio;
}
