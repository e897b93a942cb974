#include "breaks/embedded_sheet.h"

#include <glib.h>
#include <sys/stat.h>

#include <cstdio>
#include <string_view>

#include "io/file.h"

#include "breaks/cue.h"
#include "breaks/metadata.h"
#include "formats/registry.h"

namespace {

}  // namespace

bool embedded_sheet_may_be_audio(const std::string& path) {
  // Only a regular file can be an audio file here; anything else (a pipe, a missing file) is
  // left to the list readers, which say what is wrong with it.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FilePtr fp(std::fopen(path.c_str(), "rb"));
  unsigned char head[4] = {};
  if (!fp || std::fread(head, 1, sizeof head, fp.get()) != sizeof head) return false;
  const std::string_view magic(reinterpret_cast<const char*>(head), sizeof head);
  // The containers' own marks; text never begins with them. An MPEG frame's sync word is
  // eleven set bits, which a UTF-16 byte-order mark (FF FE, FE FF) is not followed by here.
  for (const std::string_view mark : {"fLaC", "OggS", "RIFF", "RF64", "BW64"}) {
    if (magic == mark) return true;
  }
  return magic.starts_with("ID3") || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 && head[1] < 0xFE);
}

namespace {

// The audio file at path, when its first bytes say it may be one: the registry is not asked
// about every text file, which each module would answer with a note of its own.
AudioFilePtr open_audio(const std::string& path) {
  if (!embedded_sheet_may_be_audio(path)) return nullptr;
  format_init();
  return format_open_file(path, nullptr);
}

int no_sheet(const std::string& path) {
  g_warning("no cue sheet in %s", path.c_str());
  return 0;
}

// A metadata block gives sample frames; breaks are blocks of 1/75 second, which a CD's sheet
// always meets and another may not.
int read_block_tracks(const EmbeddedSheet& sheet, const std::string& path, TrackBreakList& list,
                      const BreakFileReading& reading) {
  bool between_blocks = false;
  for (const EmbeddedSheetTrack& track : sheet.tracks) {
    if (!track.audio) continue;
    const std::uint64_t block = format_sample_block(track.start, sheet.rate);
    if (format_block_sample(block, sheet.rate) != track.start && !between_blocks) {
      g_warning("%s: its cue sheet places breaks between blocks of 1/75 second; each goes to the block that holds it",
                path.c_str());
      between_blocks = true;
    }
    const std::size_t before = list.breaks.size();
    TrackBreak* brk = break_file_add(list, BreakSource{path, static_cast<int>(track.number), "track"}, 1, block,
                                     std::nullopt);
    if (reading.metadata && brk != nullptr && list.breaks.size() != before) {
      brk->metadata.isrc = metadata_clean_text(track.isrc);
    }
  }
  return 1;
}

}  // namespace

std::optional<int> embedded_sheet_read(const std::string& path, TrackBreakList& list,
                                       const BreakFileReading& reading) {
  AudioFilePtr file = open_audio(path);
  if (!file) return std::nullopt;
  const std::optional<EmbeddedSheet> sheet = format_embedded_sheet(*file);
  format_close_file(std::move(file));
  track_break_list_clear(list);
  if (!sheet) return no_sheet(path);
  if (sheet->text.empty()) return read_block_tracks(*sheet, path, list, reading);
  const std::string text = break_file_text(sheet->text, path, reading);
  const ReadOutcome outcome = cue_sheet_parse(text, path, list, reading);
  if (outcome == ReadOutcome::NotThisFormat) return no_sheet(path);
  return outcome == ReadOutcome::Read ? 1 : 0;
}
