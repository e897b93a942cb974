#include <FLAC/metadata.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "breaks/break_file.h"
#include "breaks/read_result.h"
#include "support/harness.h"
#include "support/log_capture.h"

namespace {

using tfold_test::Break;

// A copy of a FLAC fixture with a CUESHEET block whose tracks start at the given samples
// (a lead-out at the end), as a tool that cuts to the sample may embed it.
void add_cuesheet(const std::string& path, const std::vector<FLAC__uint64>& starts, FLAC__uint64 total) {
  std::unique_ptr<FLAC__Metadata_Chain, decltype(&FLAC__metadata_chain_delete)> chain(FLAC__metadata_chain_new(),
                                                                                     FLAC__metadata_chain_delete);
  ASSERT_TRUE(FLAC__metadata_chain_read(chain.get(), path.c_str()));
  FLAC__StreamMetadata* sheet = FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET);
  for (std::size_t i = 0; i <= starts.size(); ++i) {
    FLAC__StreamMetadata_CueSheet_Track track{};
    track.number = static_cast<FLAC__byte>(i < starts.size() ? i + 1 : 255);
    track.offset = i < starts.size() ? starts[i] : total;
    ASSERT_TRUE(FLAC__metadata_object_cuesheet_insert_track(sheet, static_cast<unsigned>(i), &track, true));
    if (i < starts.size()) {
      ASSERT_TRUE(FLAC__metadata_object_cuesheet_track_insert_blank_index(sheet, static_cast<unsigned>(i), 0));
      sheet->data.cue_sheet.tracks[i].indices[0].number = 1;
    }
  }
  std::unique_ptr<FLAC__Metadata_Iterator, decltype(&FLAC__metadata_iterator_delete)> it(FLAC__metadata_iterator_new(),
                                                                                         FLAC__metadata_iterator_delete);
  FLAC__metadata_iterator_init(it.get(), chain.get());
  ASSERT_TRUE(FLAC__metadata_iterator_insert_block_after(it.get(), sheet));
  ASSERT_TRUE(FLAC__metadata_chain_write(chain.get(), true, false));
}

TEST(EmbeddedSheetReader, SamplesBetweenBlocksGoToTheBlockThatHoldsThemWithOneWarning) {
  tfold_test::TempDir dir;
  const std::string path = dir / "image.flac";
  std::filesystem::copy_file(tfold_test::fixture("flac_stereo44.flac"), path);
  // 588 samples a block at 44.1 kHz: 1000 lies in block 1, 44100 starts block 75, 100000 in 170.
  add_cuesheet(path, {0, 1000, 44100, 100000}, 441000);
  TrackBreakListPtr list = track_break_list_new("image");
  track_break_list_set_length(*list, NO_END);
  tfold_test::LogCapture log;
  ASSERT_EQ(track_break_list_read(path, *list), 1) << log.text();
  EXPECT_EQ(tfold_test::breaks_of(*list),
            (std::vector<Break>{{1, 0, std::nullopt}, {1, 1, std::nullopt}, {1, 75, std::nullopt}, {1, 170, std::nullopt}}));
  // Opening the image notes each module's answer in the debug log; the warning comes once.
  const std::string warning =
      path + ": its cue sheet places breaks between blocks of 1/75 second; each goes to the block that holds it\n";
  EXPECT_TRUE(log.text().ends_with(warning)) << log.text();
  EXPECT_EQ(log.text().find("between blocks"), log.text().rfind("between blocks"));
}

}  // namespace
