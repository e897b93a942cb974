// The options of list and split that take names and tags from a break list's metadata.
#pragma once

#include <glib.h>

#include <optional>

#include "breaks/break_file.h"
#include "breaks/track_break_list.h"

// The values the option parser fills in; owns its texts.
struct MetadataOptions {
  gchar* name_format = nullptr;  // --name-format=FORMAT
  gchar* cue_charset = nullptr;  // --cue-charset=CHARSET
  gboolean tags = FALSE;         // --tags (split only)

  MetadataOptions() = default;
  MetadataOptions(const MetadataOptions&) = delete;
  MetadataOptions& operator=(const MetadataOptions&) = delete;
  ~MetadataOptions();

  // The option rows for a subcommand's table; text options arrive as raw bytes, so that no
  // locale stands between a template and the names it makes.
  GOptionEntry name_format_entry();
  GOptionEntry cue_charset_entry();
  GOptionEntry tags_entry();

  // 1 (a usage error, reported on standard error after program) when a value is unusable,
  // nullopt when the command goes on.
  std::optional<int> check(const char* program) const;
  // How the break list is to be read: with its metadata when any of the options asks for it.
  BreakFileReading reading() const;
  // Gives the list the name format, when there is one.
  void apply(TrackBreakList& list) const;
};
