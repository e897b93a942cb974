#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "io/temporary_output.h"
#include "support/harness.h"
#include "support/log_capture.h"
#include "support/system_faults.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

TEST(TemporaryOutput, CommitMovesOverTheFinalPathAndDiscardRemoves) {
  TempDir dir;
  const std::string final_path = dir / "track.wav";
  write_text(final_path, "old");
  {
    std::optional<TemporaryOutput> output = TemporaryOutput::create(final_path);
    ASSERT_TRUE(output);
    std::fputs("new but dropped", output->file());
  }
  EXPECT_EQ(read_text(final_path), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  std::optional<TemporaryOutput> output = TemporaryOutput::create(final_path);
  ASSERT_TRUE(output);
  std::fputs("new", output->file());
  EXPECT_TRUE(output->commit());
  EXPECT_EQ(read_text(final_path), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A track is read back before it is committed: by its folder's descriptor, also once the
// folder's path leads elsewhere, and by its path where it was made by path.
TEST(TemporaryOutput, ReadingPathOpensTheUncommittedFile) {
  TempDir dir;
  fs::create_directory(dir.path() / "out");
  std::optional<Folder> folder = Folder::open(dir / "out");
  ASSERT_TRUE(folder);
  std::optional<TemporaryOutput> in_folder = TemporaryOutput::create_in(*folder, "track.wav", dir / "out/track.wav");
  ASSERT_TRUE(in_folder);
  std::fputs("by descriptor", in_folder->file());
  std::fflush(in_folder->file());
  fs::rename(dir.path() / "out", dir.path() / "moved");
  fs::create_directory(dir.path() / "out");
  EXPECT_EQ(read_text(in_folder->reading_path()), "by descriptor");

  std::optional<TemporaryOutput> by_path = TemporaryOutput::create(dir / "track.wav");
  ASSERT_TRUE(by_path);
  std::fputs("by path", by_path->file());
  std::fflush(by_path->file());
  EXPECT_EQ(read_text(by_path->reading_path()), "by path");
  EXPECT_FALSE(fs::exists(dir.path() / "track.wav"));
}

TEST(TemporaryOutput, OnlyAReplacementIsForcedOntoTheDisk) {
  TempDir dir;
  write_text(dir / "old.wav", "old");
  struct Case {
    const char* what;
    std::string path;
    bool replace;  // commit, else commit_new
    int fsyncs;
  };
  const std::vector<Case> cases = {
      {"replacing", dir / "old.wav", true, 1},
      {"a new file", dir / "new.wav", true, 0},
      {"never replacing", dir / "other.wav", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_faults();
    std::optional<TemporaryOutput> output = TemporaryOutput::create(c.path);
    ASSERT_TRUE(output);
    std::fputs("new", output->file());
    EXPECT_TRUE(c.replace ? output->commit() : output->commit_new());
    EXPECT_EQ(fsync_calls(), c.fsyncs);
    EXPECT_EQ(read_text(c.path), "new");
  }
  clear_faults();
}

TEST(TemporaryOutput, FailedSyncKeepsTheReplacedFile) {
  TempDir dir;
  const std::string final_path = dir / "track.wav";
  write_text(final_path, "old");
  std::optional<TemporaryOutput> output = TemporaryOutput::create(final_path);
  ASSERT_TRUE(output);
  std::fputs("new", output->file());
  LogCapture log;
  fail_fsync(EIO);
  EXPECT_FALSE(output->commit());
  clear_faults();
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Error writing to file " + final_path + ": Input/output error"});
  EXPECT_EQ(read_text(final_path), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TemporaryOutput, EachCleanupSignalWaitsWhileTheOtherIsHandled) {
  TempDir dir;
  ASSERT_TRUE(TemporaryOutput::create(dir / "track.wav"));
  for (const auto& [handled, other] : {std::pair{SIGINT, SIGTERM}, std::pair{SIGTERM, SIGINT}}) {
    SCOPED_TRACE(handled);
    struct sigaction action {};
    ASSERT_EQ(sigaction(handled, nullptr, &action), 0);
    ASSERT_NE(action.sa_handler, SIG_DFL);
    EXPECT_EQ(sigismember(&action.sa_mask, other), 1);
  }
}

TEST(TemporaryOutput, RefusedWhereNoFileCanBeMade) {
  TempDir dir;
  LogCapture log;
  EXPECT_FALSE(TemporaryOutput::create(dir / "missing/track.wav"));
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Error opening " + (dir / "missing/track.wav") +
                                                     " for writing: No such file or directory"});
}

TEST(TemporaryOutput, NameTooLongForTheSystemFailsAtTheEnd) {
  TempDir dir;
  LogCapture log;
  // The temporary file falls back to a short name; the final name is what the system refuses.
  std::optional<TemporaryOutput> output = TemporaryOutput::create(dir / (std::string(300, 'n') + ".wav"));
  ASSERT_TRUE(output);
  EXPECT_EQ(fs::path(output->temporary_path()).filename().string().rfind(".tfold-", 0), 0u);
  EXPECT_FALSE(output->commit());
  EXPECT_EQ(log.warnings().size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 0);
}

TEST(TemporaryOutput, RenameOntoAFolderFailsAndCleansUp) {
  TempDir dir;
  fs::create_directory(dir.path() / "track.wav");
  fs::create_directory(dir.path() / "track.wav" / "inside");
  LogCapture log;
  std::optional<TemporaryOutput> output = TemporaryOutput::create(dir / "track.wav");
  ASSERT_TRUE(output);
  EXPECT_FALSE(output->commit());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TemporaryOutputDeathTest, InterruptRemovesTheTemporaryFile) {
  TempDir dir;
  const std::string final_path = dir / "track.wav";
  write_text(final_path, "old");
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    EXPECT_EXIT(
        {
          std::optional<TemporaryOutput> output = TemporaryOutput::create(final_path);
          if (!output) std::exit(3);
          std::fputs("half a track", output->file());
          std::fflush(output->file());
          std::raise(signal_number);
          std::exit(4);
        },
        ::testing::KilledBySignal(signal_number), "");
    EXPECT_EQ(read_text(final_path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }
}

}  // namespace
