// Damaged sources lose only what is damaged: junk between frames, zeros or junk behind the
// last frame and a last frame cut short leave every sound track as the clean file gives it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "formats/mpeg/mpeg_test_support.h"
#include "support/harness.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The line of `analyze` that counts the blocks, and info's duration line: what a damaged
// file must share with its clean original.
std::string line_with(const std::string& text, const std::string& part) {
  const std::size_t at = text.find(part);
  if (at == std::string::npos) return "";
  const std::size_t start = text.rfind('\n', at) + 1;
  return text.substr(start, text.find(' ', at) - start);
}

struct MpegDamage {
  const char* what;
  std::function<Bytes(const Bytes& clean, const std::vector<std::size_t>& frames)> damage;
  std::set<std::string> same_as_clean;  // tracks byte for byte as the clean file's
  std::string warning;                  // a part of standard error; "" for none
  bool same_length = true;              // info and analyze measure the clean length
};

TEST(DamagedMpeg, EveryTrackTheDamageLeavesSoundIsTheCleanFilesTrack) {
  const Bytes clean = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const std::vector<std::size_t> frames = mpeg_test::frame_offsets(clean);
  ASSERT_GT(frames.size(), 100u);
  const auto with = [](Bytes bytes, std::size_t at, const Bytes& inserted) {
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
    return bytes;
  };
  const std::vector<MpegDamage> cases = {
      {"3000 bytes of junk between two frames of track 2",
       [&](const Bytes& c, const std::vector<std::size_t>& f) { return with(c, f[60], mpeg_test::non_frame_data(3000)); },
       {"a.mp3", "b.mp3", "c.mp3"}, "3000 bytes of non-frame data at"},
      {"5000 zero bytes behind the last frame",
       [&](const Bytes& c, const std::vector<std::size_t>&) { return with(c, c.size(), Bytes(5000, 0)); },
       {"a.mp3", "b.mp3", "c.mp3"}, ""},
      {"junk behind the last frame",
       [&](const Bytes& c, const std::vector<std::size_t>&) { return with(c, c.size(), mpeg_test::non_frame_data(5000)); },
       {"a.mp3", "b.mp3", "c.mp3"}, ""},
      {"a last frame cut short",
       [&](const Bytes& c, const std::vector<std::size_t>&) { return Bytes(c.begin(), c.end() - 200); },
       {"a.mp3", "b.mp3"}, "Tried to read over the end of the input file", false},
  };
  Tfold t;
  write_file(t / "clean.mp3", clean);
  write_text(t / "l.txt", "0=a\n75=b\n150=c\n");
  fs::create_directory(t / "clean");
  ASSERT_EQ(t.run({"split", "clean.mp3", "l.txt", "clean"}).status, 0);
  const std::string clean_info = line_with(t.run({"info", "clean.mp3"}).out, "samples)");
  const std::string clean_blocks = line_with(t.run({"analyze", "clean.mp3"}).out, "sample blocks analyzed");
  ASSERT_FALSE(clean_blocks.empty());
  for (const MpegDamage& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(t / "damaged.mp3", c.damage(clean, frames));
    fs::remove_all(t / "o");
    fs::create_directory(t / "o");
    const RunResult r = t.run({"split", "damaged.mp3", "l.txt", "o"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    if (!c.warning.empty()) {
      EXPECT_TRUE(contains(r.err, c.warning)) << r.err;
      // One warning a file, however many tracks lie past the damage.
      EXPECT_EQ(r.err.find(c.warning), r.err.rfind(c.warning)) << r.err;
    }
    for (const std::string& track : c.same_as_clean) {
      EXPECT_EQ(read_file(t / ("o/" + track)), read_file(t / ("clean/" + track))) << track;
    }
    const RunResult analyzed = t.run({"analyze", "damaged.mp3"});
    EXPECT_EQ(analyzed.status, 0) << analyzed.out << analyzed.err;
    EXPECT_FALSE(contains(analyzed.err, "MP3 decoding failed")) << analyzed.err;
    if (c.same_length) {
      EXPECT_EQ(line_with(t.run({"info", "damaged.mp3"}).out, "samples)"), clean_info);
      EXPECT_EQ(line_with(analyzed.out, "sample blocks analyzed"), clean_blocks);
    }
  }
}

}  // namespace
