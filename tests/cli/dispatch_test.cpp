#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/wav_builder.h"

using namespace tfold_test;

namespace {

std::string usage_for(const std::string& program) {
  return "Usage: " + program + " SUBCOMMAND <options>\n\n"
         "tfold(1) is the command-line interface for trackfold(1).\n\n"
         "Valid SUBCOMMANDs are:\n\n"
         "  list        ..... List track breaks from file (TXT/CUE/TOC)\n"
         "  analyze     ..... Open, analyze and preview audio file\n"
         "  split       ..... Split an audio file using a track break list to a folder\n"
         "  gen         ..... Generate example WAV files (formerly 'tonesmith')\n"
         "  info        ..... Print audio format information (WAV/MP2/MP3/OGG/FLAC) (formerly 'headpeek')\n"
         "  merge       ..... Merge multiple WAV files into a single file (formerly 'joinery')\n"
         "  detect      ..... Find the track breaks of a recording and write a break list\n"
         "  plot        ..... Draw the waveform of a recording with its track breaks (PNG/SVG)\n"
         "  version     ..... Print version and software information\n"
         "\n";
}

TEST(Dispatch, UsageForMissingOrUnknownSubcommand) {
  const std::vector<std::vector<std::string>> cases = {{}, {"help"}, {"LIST"}, {"Version"}, {"lis"}};
  Tfold tfold;
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    const RunResult r = tfold.run(args);
    EXPECT_EQ(r.out, usage_for(binary_path()));
    EXPECT_EQ(r.status, 1);
  }
}

TEST(Dispatch, HandlerSeesProgramAndKeywordAsArgumentZero) {
  Tfold tfold;
  RunOptions by_name;
  by_name.invoke_by_name = true;
  const RunResult r = tfold.run({"info"}, by_name);
  EXPECT_EQ(r.out, "Usage: tfold info [file1.wav] [...]\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tfold.run({}, by_name).out, usage_for("tfold"));
}

TEST(Version, ListsModulesInRegistrationOrderAndIgnoresArguments) {
  Tfold tfold;
  const RunResult r = tfold.run({"version", "extra", "args"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("tfold 0.16 -- https://trackfold.org/\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\n\n== Supported file formats ==\n\n"
                       "Format:    RIFF WAVE\nLibrary:   built-in\nExtension: .wav\n\n"),
            std::string::npos)
      << r.out;
  // Registration order: every module that is present appears after the ones before it.
  EXPECT_NE(r.out.find("Format:    FLAC\nLibrary:   libFLAC\nExtension: .flac\n\n"), std::string::npos)
      << r.out;
  const char* order[] = {"RIFF WAVE", "CD Digital Audio (Big-Endian)", "MPEG Audio Layer I/II/III",
                         "Ogg Vorbis", "FLAC"};
  std::size_t last = 0;
  for (const char* name : order) {
    const std::size_t at = r.out.find(std::string("Format:    ") + name + "\n");
    if (at == std::string::npos) continue;
    EXPECT_GT(at, last) << name;
    last = at;
  }
}

TEST(Info, PrintsEachFileAndReportsTheOnesNoModuleOpens) {
  Tfold tfold;
  write_file(tfold / "one.wav", canonical_wav(2, 44100, 16, Bytes(176400)));
  write_file(tfold / "three.wav", canonical_wav(1, 22050, 8, Bytes(0)));
  write_text(tfold / "notes.wav", "no audio in here\n");
  // A file that cannot be opened gets the system's reason; one that opens but no module reads
  // is of an unknown format.
  const RunResult r = tfold.run({"info", "one.wav", "missing.wav", "notes.wav", "three.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "File name:      one.wav\n"
            "File format:    RIFF WAVE\n"
            "Duration:       00:00:01.000 (44100 samples)\n"
            "Format:         44100 Hz / 2 ch / 16 bit\n"
            "\n"
            "Error opening missing.wav: No such file or directory\n"
            "Error opening notes.wav: File format unknown/not supported\n"
            "File name:      three.wav\n"
            "File format:    RIFF WAVE\n"
            "Duration:       00:00:00.000 (0 samples)\n"
            "Format:         22050 Hz / 1 ch / 8 bit\n"
            "\n");
}

TEST(Info, ZeroRatesInTheHeaderDoNotStopThePrint) {
  Tfold tfold;
  Bytes chunks;
  append_chunk(chunks, "fmt ", fmt_contents(1, 0, 0, 0, 0, 0));
  append_chunk(chunks, "data", Bytes(100));
  write_file(tfold / "zero.wav", riff_wave(chunks));
  const RunResult r = tfold.run({"info", "zero.wav"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "File name:      zero.wav\n"
            "File format:    RIFF WAVE\n"
            "Duration:       unknown (unknown samples)\n"
            "Format:         0 Hz / 0 ch / 0 bit\n"
            "\n");
}

}  // namespace

namespace {

TEST(SubcommandOptions, EveryHandlerAnswersHelpAndRefusesUnknownOptions) {
  const std::vector<std::string> subcommands = {"list", "analyze", "split", "gen",
                                                "info", "merge",   "version", "detect", "plot"};
  Tfold tfold;
  for (const std::string& name : subcommands) {
    SCOPED_TRACE(name);
    const RunResult help = tfold.run({name, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage:\n  " + binary_path() + " " + name + " [OPTION", 0), 0u)
        << help.out;
    EXPECT_NE(help.out.find("  -h, --help"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    if (name == "merge") continue;  // its arguments are names from the first on, "-o" aside
    const RunResult unknown = tfold.run({name, "--no-such-option", "x"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, binary_path() + " " + name + ": Unknown option --no-such-option\n" +
                               "Try '" + binary_path() + " " + name +
                               " --help' for more information.\n");
  }
  // gen would write its files in the run's folder: its --help must not.
  for (const auto& entry : std::filesystem::directory_iterator(tfold.dir())) {
    EXPECT_NE(entry.path().extension(), ".wav") << entry.path();
  }
}

TEST(SubcommandOptions, DoubleDashEndsOptionsAndLaterDashesAreNames) {
  Tfold tfold;
  // Files that open but that no module reads: only their names matter here.
  for (const char* name : {"-x.wav", "--", "-y", "a.wav", "--help"}) {
    write_file(tfold / name, Bytes{'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
  }
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"info", "--", "-x.wav"}, "Error opening -x.wav: File format unknown/not supported\n"},
      {{"info", "--", "--", "-y"},
       "Error opening --: File format unknown/not supported\n"
       "Error opening -y: File format unknown/not supported\n"},
      {{"info", "a.wav", "--help"},
       "Error opening a.wav: File format unknown/not supported\n"
       "Error opening --help: File format unknown/not supported\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult r = tfold.run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
  }
}

}  // namespace
