#include <gtest/gtest.h>

#include "document/document_fixtures.h"
#include "formats/wav/wav.h"

namespace {

using namespace tfold_test;

TEST(AudioDocumentStem, DropsTheModuleExtensionElseTheLastSuffix) {
  static const FormatModule raw_module = {"CD audio", "test", ".cdda.raw", nullptr,
                                          nullptr,    nullptr, nullptr};
  struct Case {
    const FormatModule* module;
    const char* base_name;
    const char* stem;
  };
  const std::vector<Case> cases = {
      {wav_module(), "concert.wav", "concert"},
      {wav_module(), "a.b.wav", "a.b"},
      {wav_module(), "Show.WAV", "Show"},
      {wav_module(), "noextension", "noextension"},
      {wav_module(), "take.one.aiff", "take.one"},
      {&raw_module, "Live.CDDA.RAW", "Live"},
      {&raw_module, "Live.raw", "Live"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base_name);
    EXPECT_EQ(audio_document_make_stem(*c.module, c.base_name), c.stem);
  }
}

TEST(AudioDocument, KnowsItsPathParts) {
  TempDir dir;
  const std::string path = dir / "concert.wav";
  write_file(path, canonical_wav(2, 44100, 16, Bytes(CD_BLOCK, 0)));
  AudioDocumentPtr document = open_document(path);
  ASSERT_TRUE(document);
  EXPECT_EQ(audio_document_get_stem(*document), "concert");
  EXPECT_EQ(audio_document_get_base_name(*document), "concert.wav");
  EXPECT_EQ(audio_document_get_dir_name(*document), dir.path().string());
  EXPECT_EQ(audio_document_get_path(*document), path);
  EXPECT_EQ(audio_document_get_file_size(*document), 44 + 2352);
  wait_analyzed(*document);
  EXPECT_EQ(audio_document_get_block_count(*document), 2u);
  audio_document_close(std::move(document));
}

TEST(AudioDocument, RefusesFormatsWithoutAWholeBlock) {
  // 74 bytes per second make a block of no bytes at all.
  SampleInfo si = cd_sample_info(1000);
  si.channels = 1;
  si.samplesPerSec = 74;
  si.avgBytesPerSec = 74;
  si.blockAlign = 1;
  si.bitsPerSample = 8;
  si.bufferSize = 0;
  ErrorText error;
  EXPECT_FALSE(audio_document_open_file(memory_file(si, Bytes(1000), 1000), &error));
  EXPECT_EQ(error.value_or(""),
            "Unusable audio format (74 Hz, 1 channels, 8 bit, 74 bytes/s, block align 1): cannot "
            "measure it in blocks of 1/75 second");
}

}  // namespace
