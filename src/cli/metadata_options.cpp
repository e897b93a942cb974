#include "cli/metadata_options.h"

#include <cstdio>
#include <string>

#include "breaks/name_format.h"
#include "breaks/text_decoding.h"

namespace {

int usage_error(const char* program, const char* option, const std::string& reason) {
  std::fprintf(stderr, "%s: %s: %s\nTry '%s --help' for more information.\n", program, option,
               reason.c_str(), program);
  return 1;
}

}  // namespace

MetadataOptions::~MetadataOptions() {
  g_free(name_format);
  g_free(cue_charset);
}

GOptionEntry MetadataOptions::name_format_entry() {
  return {"name-format", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_FILENAME, &name_format,
          "Name tracks by FORMAT: %n number, %t title, %p performer, %a album, %y year, %% %",
          "FORMAT"};
}

GOptionEntry MetadataOptions::cue_charset_entry() {
  return {"cue-charset", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_FILENAME, &cue_charset,
          "Charset of a break list that is not UTF-8 (default: Windows-1252)",
          "CHARSET"};
}

GOptionEntry MetadataOptions::tags_entry() {
  return {"tags", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &tags,
          "Tag each track with the break list's title, performer, album, number, date, genre",
          nullptr};
}

std::optional<int> MetadataOptions::check(const char* program) const {
  if (name_format != nullptr) {
    if (const std::optional<std::string> reason = name_format_check(name_format)) {
      return usage_error(program, "--name-format", *reason);
    }
  }
  if (cue_charset != nullptr && !text_charset_is_known(cue_charset)) {
    return usage_error(program, "--cue-charset",
                       std::string("unknown charset '") + cue_charset + "'");
  }
  return std::nullopt;
}

BreakFileReading MetadataOptions::reading() const {
  BreakFileReading result;
  result.metadata = name_format != nullptr || cue_charset != nullptr || tags != FALSE;
  if (cue_charset != nullptr) result.charset = cue_charset;
  return result;
}

void MetadataOptions::apply(TrackBreakList& list) const {
  if (name_format != nullptr) list.name_format = name_format;
}
