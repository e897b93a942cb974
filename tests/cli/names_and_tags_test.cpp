// Names and tags taken from the metadata of break lists: --name-format, --tags, --cue-charset.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/ogg_tools.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz

// Album, performers of the sheet and of one track, and a title with a slash; the tracks
// start at blocks 0, 30 and 60 of a 100-block recording.
const std::string SHEET =
    "REM GENRE Jazz\n"
    "REM DATE 1999\n"
    "PERFORMER \"The Band\"\n"
    "TITLE \"Live at the Hall\"\n"
    "FILE \"show.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"Intro\"\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Call/Response\"\n"
    "    PERFORMER \"Guest\"\n"
    "    INDEX 01 00:00:30\n"
    "  TRACK 03 AUDIO\n"
    "    INDEX 01 00:00:60\n";

const std::string TEMPLATE = "--name-format=%n. %p - %t (%a, %y)";

// A sandbox with a 100-block WAV of counting bytes and an output folder.
struct Sandbox {
  Tfold t;
  Bytes data = counting_bytes(100 * BLOCK);
  std::string audio = t / "show.wav";
  std::string folder = t / "out";

  Sandbox() {
    fs::create_directory(folder);
    write_file(audio, canonical_wav(2, 44100, 16, data));
  }
  Bytes track(std::size_t from, std::size_t to) const {
    const std::size_t end = to == 0 ? data.size() : to * BLOCK;
    return canonical_wav(2, 44100, 16, slice(data, from * BLOCK, end - from * BLOCK));
  }
  std::string out(const std::string& name) const { return folder + "/" + name; }
};

TEST(NameFormatOption, ListShowsTheNamesSplitWrites) {
  Sandbox s;
  write_text(s.t / "show.cue", SHEET);
  const RunResult listed = s.t.run({"list", TEMPLATE, "show.cue"});
  EXPECT_EQ(listed.out,
            "== show.cue ==\n"
            "Audio file: show.wav\n"
            " 1. [x]    0:00.00 -    0:00.30 \"01. The Band - Intro (Live at the Hall, 1999)\" (duration: 0:00.30)\n"
            " 2. [x]    0:00.30 -    0:00.60 \"02. Guest - Call-Response (Live at the Hall, 1999)\" (duration: 0:00.30)\n"
            " 3. [x]    0:00.60 -      (end) \"03. The Band - show-03 (Live at the Hall, 1999)\"\n"
            "\n");
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(listed.status, 0);

  const RunResult split = s.t.run({"split", TEMPLATE, s.audio, "show.cue", s.folder});
  ASSERT_EQ(split.status, 0) << split.out << split.err;
  EXPECT_NE(split.out.find(" 2. [x]    0:00.30 -    0:00.60 \"02. Guest - Call-Response (Live at the Hall, 1999)\""),
            std::string::npos);
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{
                                   "01. The Band - Intro (Live at the Hall, 1999).wav",
                                   "02. Guest - Call-Response (Live at the Hall, 1999).wav",
                                   "03. The Band - show-03 (Live at the Hall, 1999).wav"}));
  EXPECT_EQ(read_file(s.out("02. Guest - Call-Response (Live at the Hall, 1999).wav")), s.track(30, 60));
  EXPECT_EQ(read_file(s.out("03. The Band - show-03 (Live at the Hall, 1999).wav")), s.track(60, 0));
}

TEST(NameFormatOption, WithoutTheOptionsNamesStayAsTheyWere) {
  Sandbox s;
  write_text(s.t / "show.cue", SHEET);
  write_text(s.t / "show.txt", "0=Intro\n30=Call\n");
  const RunResult r = s.t.run({"list", "show.cue", "show.txt"});
  EXPECT_EQ(r.out,
            "== show.cue ==\n"
            "Audio file: show.wav\n"
            " 1. [x]    0:00.00 -    0:00.30 \"show-01\" (duration: 0:00.30)\n"
            " 2. [x]    0:00.30 -    0:00.60 \"show-02\" (duration: 0:00.30)\n"
            " 3. [x]    0:00.60 -      (end) \"show-03\"\n"
            "\n"
            "== show.txt ==\n"
            " 1. [x]    0:00.00 -    0:00.30 \"Intro\" (duration: 0:00.30)\n"
            " 2. [x]    0:00.30 -      (end) \"Call\"\n"
            "\n");
  // An explicit TXT name is the title its template uses.
  const RunResult formatted = s.t.run({"list", "--name-format=%n %t", "show.txt"});
  EXPECT_EQ(formatted.out,
            "== show.txt ==\n"
            " 1. [x]    0:00.00 -    0:00.30 \"01 Intro\" (duration: 0:00.30)\n"
            " 2. [x]    0:00.30 -      (end) \"02 Call\"\n"
            "\n");
}

TEST(NameFormatOption, TemplateNeverLeavesTheOutputFolder) {
  Sandbox s;
  write_text(s.t / "show.cue",
             "TITLE \"..\"\nFILE show.wav WAVE\nTRACK 01 AUDIO\nTITLE \"/etc/passwd\"\nINDEX 01 00:00:00\n");
  fs::create_directory(s.folder + "/sub");
  const RunResult r = s.t.run({"split", "--name-format=../%a/%t", s.audio, "show.cue", s.folder});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{"-etc-passwd.wav", "sub"}));
  const RunResult nested = s.t.run({"split", "--name-format=sub/%n", s.audio, "show.cue", s.folder});
  ASSERT_EQ(nested.status, 0) << nested.out << nested.err;
  EXPECT_EQ(read_file(s.out("sub/01.wav")), s.track(0, 0));
}

// "Привет" (hello) and "Мир" (world).
const std::string HELLO_UTF8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
const std::string WORLD_UTF8 = "\xD0\x9C\xD0\xB8\xD1\x80";

std::string cyrillic_sheet(const std::string& hello, const std::string& world) {
  return "TITLE \"" + world + "\"\nFILE \"show.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"" + hello +
         "\"\nINDEX 01 00:00:00\n";
}

std::string utf16le(const std::string& ascii_text) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii_text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(CueCharset, DecodesSheetsToUtf8) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> options;
    std::string name;
    const char* warning;  // "" for none
  };
  const Case cases[] = {
      {"Windows-1251 with the option", cyrillic_sheet("\xCF\xF0\xE8\xE2\xE5\xF2", "\xCC\xE8\xF0"),
       {"--cue-charset=WINDOWS-1251"}, HELLO_UTF8 + " - " + WORLD_UTF8, ""},
      {"Windows-1251 without it: Windows-1252",
       cyrillic_sheet("\xCF\xF0\xE8\xE2\xE5\xF2", "\xCC\xE8\xF0"), {},
       "\xC3\x8F\xC3\xB0\xC3\xA8\xC3\xA2\xC3\xA5\xC3\xB2 - \xC3\x8C\xC3\xA8\xC3\xB0",
       "sheet.cue is not UTF-8; read as Windows-1252 (--cue-charset=CHARSET names its charset)"},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + cyrillic_sheet(HELLO_UTF8, WORLD_UTF8),
       {"--cue-charset=WINDOWS-1251"}, HELLO_UTF8 + " - " + WORLD_UTF8, ""},
      {"UTF-16 with a byte-order mark and CRLF",
       utf16le("TITLE \"Album\"\r\nFILE \"show.wav\" WAVE\r\nTRACK 01 AUDIO\r\nTITLE Song\r\n"
               "INDEX 01 00:00:00\r\n"),
       {}, "Song - Album", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox s;
    write_file(s.t / "sheet.cue", Bytes(c.bytes.begin(), c.bytes.end()));
    std::vector<std::string> args = {"split", "--name-format=%t - %a"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {s.audio, "sheet.cue", s.folder});
    const RunResult r = s.t.run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(listing(s.folder), std::set<std::string>{c.name + ".wav"});
    if (std::string(c.warning).empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    }
  }
}

TEST(MetadataOptions, HelpAndUsageErrors) {
  Tfold t;
  write_text(t / "a.txt", "0=A\n");
  const RunResult list_help = t.run({"list", "--help"});
  EXPECT_EQ(list_help.status, 0);
  EXPECT_NE(list_help.out.find("--name-format=FORMAT"), std::string::npos) << list_help.out;
  EXPECT_NE(list_help.out.find("--cue-charset=CHARSET"), std::string::npos);
  EXPECT_EQ(list_help.out.find("--tags"), std::string::npos);
  const RunResult split_help = t.run({"split", "--help"});
  EXPECT_EQ(split_help.status, 0);
  for (const char* option : {"--name-format=FORMAT", "--cue-charset=CHARSET", "--tags"}) {
    EXPECT_NE(split_help.out.find(option), std::string::npos) << option << "\n" << split_help.out;
  }

  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"list", "--name-fromat=%t", "a.txt"}, "Unknown option --name-fromat=%t"},
      {{"list", "--tags", "a.txt"}, "Unknown option --tags"},
      {{"list", "--name-format", }, "Missing argument for --name-format"},
      {{"list", "--name-format=%n %x", "a.txt"}, "--name-format: unknown conversion '%x'"},
      {{"list", "--name-format=%\xC3\xA9", "a.txt"}, "--name-format: unknown conversion '%\xC3\xA9'"},
      {{"split", "--cue-charset=NO-SUCH-CHARSET", "a.wav", "a.txt", "out"},
       "--cue-charset: unknown charset 'NO-SUCH-CHARSET'"},
      {{"split", "--name-format=%", "a.wav", "a.txt", "out"}, "--name-format: a '%' at its end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const RunResult r = t.run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
}

// What a test tool prints on standard output; a tool that cannot run or fails fails the test.
std::string tool_output(std::vector<const char*> argv) {
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  GError* error = nullptr;
  const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv.data()), nullptr,
                                    G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, nullptr, &status,
                                    &error);
  EXPECT_TRUE(ran && g_spawn_check_wait_status(status, nullptr))
      << argv[0] << " " << argv[argv.size() - 2] << (error != nullptr ? error->message : "");
  if (error != nullptr) g_error_free(error);
  std::string text = out != nullptr ? out : "";
  g_free(out);
  return text;
}

// The tags ffprobe reads from a file, by its names (title, artist, album, track, date, genre).
std::map<std::string, std::string> probed_tags(const std::string& path) {
  const std::string text = tool_output({"ffprobe", "-v", "error", "-show_entries", "format_tags",
                                        "-of", "default=noprint_wrappers=1", path.c_str()});
  std::map<std::string, std::string> tags;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    const std::size_t equals = line.find('=');
    if (line.starts_with("TAG:") && equals != std::string::npos) {
      tags[line.substr(4, equals - 4)] = line.substr(equals + 1);
    }
    at = end + 1;
  }
  return tags;
}

using Tags = std::map<std::string, std::string>;

// Splits audio by SHEET twice in t, tracks named by number: into "plain" without tags, then
// into "tagged" with them; the second run's result.
RunResult split_plain_and_tagged(const Tfold& t, const std::string& audio) {
  write_text(t / "show.cue", SHEET);
  fs::create_directory(t / "plain");
  fs::create_directory(t / "tagged");
  EXPECT_EQ(t.run({"split", "--name-format=%n", audio, "show.cue", t / "plain"}).status, 0);
  return t.run({"split", "--name-format=%n", "--tags", audio, "show.cue", t / "tagged"});
}

TEST(TagsOption, WavTracksEndInAnInfoChunk) {
  Sandbox s;
  write_text(s.t / "show.cue", SHEET);
  const RunResult r = s.t.run({"split", "--tags", "--name-format=%n", s.audio, "show.cue", s.folder});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(probed_tags(s.out("01.wav")), (Tags{{"title", "Intro"}, {"artist", "The Band"},
                                               {"album", "Live at the Hall"}, {"track", "1"},
                                               {"date", "1999"}, {"genre", "Jazz"}}));
  EXPECT_EQ(probed_tags(s.out("02.wav")), (Tags{{"title", "Call/Response"}, {"artist", "Guest"},
                                               {"album", "Live at the Hall"}, {"track", "2"},
                                               {"date", "1999"}, {"genre", "Jazz"}}));
  EXPECT_EQ(probed_tags(s.out("03.wav")), (Tags{{"artist", "The Band"}, {"album", "Live at the Hall"},
                                               {"track", "3"}, {"date", "1999"}, {"genre", "Jazz"}}));
  // The audio is the slice it was; the chunk only follows it.
  const Bytes second = read_file(s.out("02.wav"));
  const Bytes plain = s.track(30, 60);
  ASSERT_GT(second.size(), plain.size());
  EXPECT_EQ(slice(second, 8, plain.size() - 8), slice(plain, 8, plain.size() - 8));
}

TEST(TagsOption, MpegTracksStartWithAnId3v24Tag) {
  for (const char* source : {"mpeg_cbr128.mp3", "mpeg_layer2.mp2"}) {
    SCOPED_TRACE(source);
    Tfold t;
    const RunResult r = split_plain_and_tagged(t, fixture(source).string());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string extension = fs::path(source).extension().string();
    for (const char* number : {"01", "02", "03"}) {
      SCOPED_TRACE(number);
      const Bytes tagged = read_file(t / ("tagged/" + std::string(number) + extension));
      const Bytes plain = read_file(t / ("plain/" + std::string(number) + extension));
      ASSERT_GT(tagged.size(), 10u);
      EXPECT_EQ(slice(tagged, 0, 4), (Bytes{'I', 'D', '3', 4}));
      const std::size_t tag_size = 10 + (std::size_t{tagged[6]} << 21 | std::size_t{tagged[7]} << 14 |
                                         std::size_t{tagged[8]} << 7 | tagged[9]);
      // The frames are those of the untagged track, behind the tag.
      ASSERT_EQ(tagged.size(), tag_size + plain.size());
      EXPECT_EQ(slice(tagged, tag_size, plain.size()), plain);
    }
    EXPECT_EQ(probed_tags(t / ("tagged/02" + extension)),
              (Tags{{"title", "Call/Response"}, {"artist", "Guest"}, {"album", "Live at the Hall"},
                    {"track", "2/3"}, {"date", "1999"}, {"genre", "Jazz"}}));
  }
}

TEST(TagsOption, RawCdAudioHasNoTagsAndSaysSoOnce) {
  Tfold t;
  const Bytes raw = counting_bytes(30 * BLOCK);
  write_file(t / "disc.cdda.raw", raw);
  write_text(t / "disc.txt", "0=a\n10=b\n20=c\n");
  fs::create_directory(t / "out");
  const RunResult r = t.run({"split", "--tags", t / "disc.cdda.raw", t / "disc.txt", t / "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string warning =
      "CD Digital Audio (Big-Endian) files carry no tags: the tracks are written without them\n";
  const std::size_t at = r.err.find(warning);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("WARNING", r.err.find("WARNING") + 1), std::string::npos) << r.err;
  EXPECT_EQ(read_file(t / "out/b.cdda.raw"), slice(raw, 10 * BLOCK, 10 * BLOCK));
}

// What vorbiscomment lists of a file's comments, one "FIELD=value" a line.
std::string listed_comments(const std::string& path) {
  return tool_output({"vorbiscomment", "-l", path.c_str()});
}

// The source says COMMENT, title and artist (oggenc writes them in that order and case): the
// sheet's fields replace those it gives, in any case, the rest stay in their order, and the
// audio is what the untagged track decodes to.
TEST(TagsOption, OggTracksKeepTheSourceCommentsAndTakeTheSheets) {
  Tfold t;
  const RunResult r = split_plain_and_tagged(t, fixture("ogg_cut_stereo44.ogg").string());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listed_comments(t / "tagged/02.ogg"),
            "COMMENT=kept in every track\n"
            "TITLE=Call/Response\n"
            "ARTIST=Guest\n"
            "ALBUM=Live at the Hall\n"
            "TRACKNUMBER=2\n"
            "TRACKTOTAL=3\n"
            "DATE=1999\n"
            "GENRE=Jazz\n");
  EXPECT_EQ(listed_comments(t / "tagged/03.ogg"),
            "COMMENT=kept in every track\n"
            "title=Cut Title\n"
            "ARTIST=The Band\n"
            "ALBUM=Live at the Hall\n"
            "TRACKNUMBER=3\n"
            "TRACKTOTAL=3\n"
            "DATE=1999\n"
            "GENRE=Jazz\n");
  for (const char* number : {"01", "02", "03"}) {
    SCOPED_TRACE(number);
    const DecodedVorbis tagged = decode_vorbis(t / ("tagged/" + std::string(number) + ".ogg"));
    const DecodedVorbis plain = decode_vorbis(t / ("plain/" + std::string(number) + ".ogg"));
    ASSERT_TRUE(tagged.opened);
    EXPECT_EQ(tagged.samples, plain.samples);
    // The encoder's vendor string stays.
    ASSERT_FALSE(tagged.comments.empty());
    EXPECT_EQ(tagged.comments[0][0], plain.comments[0][0]);
  }
}

}  // namespace
