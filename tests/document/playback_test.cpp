#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "document/audio_device.h"
#include "document/document_fixtures.h"

namespace {

using namespace tfold_test;

// An output that records what it is given and, while its gate is closed, holds every
// play call the way a full device buffer would.
struct FakeOutput {
  std::mutex mutex;
  std::condition_variable changed;
  AudioDocument* document = nullptr;
  bool open_succeeds = true;
  bool gate_closed = false;
  int opens = 0;
  int closes = 0;
  int plays_entered = 0;
  Bytes played;
  std::vector<std::uint64_t> positions_at_play;

  void release() {
    std::lock_guard lock(mutex);
    gate_closed = false;
    changed.notify_all();
  }
  bool wait_for_plays(int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return plays_entered >= count; });
  }
};

FakeOutput* output = nullptr;

const AudioBackend FAKE_BACKEND = {
    [](const SampleInfo&) {
      std::lock_guard lock(output->mutex);
      ++output->opens;
      return output->open_succeeds;
    },
    [](std::span<const std::uint8_t> buffer) {
      // The position is read before the gate, so the lock it takes is never held here.
      const std::uint64_t position = audio_document_get_play_position(*output->document);
      std::unique_lock lock(output->mutex);
      output->positions_at_play.push_back(position);
      ++output->plays_entered;
      output->changed.notify_all();
      output->changed.wait(lock, [] { return !output->gate_closed; });
      output->played.insert(output->played.end(), buffer.begin(), buffer.end());
      return true;
    },
    [] {
      std::lock_guard lock(output->mutex);
      ++output->closes;
    },
};

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    output = &fake_;
    audio_device_set_backend(&FAKE_BACKEND);
  }
  void TearDown() override {
    if (document_) audio_document_close(std::move(document_));
    audio_device_set_backend(nullptr);
    output = nullptr;
  }
  // A 16-bit stereo document of the given data, analysed.
  void open(const Bytes& data, std::uint32_t rate = 44100) {
    data_ = data;
    write_file(dir_ / "preview.wav", canonical_wav(2, rate, 16, data));
    document_ = open_document(dir_ / "preview.wav");
    ASSERT_TRUE(document_);
    wait_analyzed(*document_);
    fake_.document = document_.get();
  }
  void wait_idle() {
    ASSERT_TRUE(wait_until([&] { return audio_document_is_playing(*document_) == 0; }));
  }
  Bytes played() {
    std::lock_guard lock(fake_.mutex);
    return fake_.played;
  }

  FakeOutput fake_;
  TempDir dir_;
  Bytes data_;
  AudioDocumentPtr document_;
};

TEST_F(Playback, TenBlocksPlayToTheEndPublishingEachChunkEnd) {
  open(counting_bytes(10 * CD_BLOCK));
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  wait_idle();
  // Chunks of 4096 bytes, the sixth 3040 bytes long; the read past the end publishes 12.
  EXPECT_EQ(fake_.positions_at_play, (std::vector<std::uint64_t>{0, 3, 5, 6, 8, 10}));
  EXPECT_EQ(audio_document_get_play_position(*document_), 12u);
  EXPECT_EQ(played(), data_);
  EXPECT_EQ(fake_.opens, 1);
  EXPECT_EQ(fake_.closes, 1);
}

TEST_F(Playback, StartsOnTheBlocksFirstFrameAtAnyRate) {
  // 32000 Hz: block 1 starts at frame 426, byte 1704; the three blocks end at byte 5120.
  open(counting_bytes(5120), 32000);
  ASSERT_EQ(audio_document_start_playback(*document_, 1), 0);
  wait_idle();
  EXPECT_EQ(played(), slice(data_, 1704, 5120 - 1704));
  EXPECT_EQ(fake_.positions_at_play, (std::vector<std::uint64_t>{1}));
  // The read past the end counts a whole chunk: byte 9896 is frame 2474, in block 5.
  EXPECT_EQ(audio_document_get_play_position(*document_), 5u);
}

TEST_F(Playback, StartAtBlock100PublishesItBeforeTheFirstChunk) {
  open(counting_bytes(102 * CD_BLOCK));
  fake_.gate_closed = true;
  ASSERT_EQ(audio_document_start_playback(*document_, 100), 0);
  EXPECT_EQ(audio_document_get_play_position(*document_), 100u);
  ASSERT_TRUE(fake_.wait_for_plays(1));
  EXPECT_EQ(fake_.positions_at_play.front(), 100u);
  fake_.release();
  wait_idle();
  EXPECT_EQ(played(), slice(data_, 100 * CD_BLOCK, 2 * CD_BLOCK));
}

TEST_F(Playback, SecondStartWhilePlayingIsRefusedAndLeavesTheFirst) {
  open(counting_bytes(10 * CD_BLOCK));
  fake_.gate_closed = true;
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  ASSERT_TRUE(fake_.wait_for_plays(1));
  EXPECT_EQ(audio_document_start_playback(*document_, 5), 2);
  fake_.release();
  wait_idle();
  EXPECT_EQ(played(), data_);
  EXPECT_EQ(fake_.opens, 1);
}

TEST_F(Playback, StopWhileIdleReturnsAtOnce) {
  open(counting_bytes(CD_BLOCK));
  audio_document_stop_playback(*document_);
  EXPECT_EQ(audio_document_is_playing(*document_), 0);
  EXPECT_EQ(fake_.opens, 0);
}

TEST_F(Playback, StopDuringPlaybackJoinsAfterTheChunkInProgress) {
  open(counting_bytes(10 * CD_BLOCK));
  fake_.gate_closed = true;
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  ASSERT_TRUE(fake_.wait_for_plays(1));
  // Opens the gate only once the stop has been asked for, so the thread sees it at its
  // first check.
  std::thread releaser([&] {
    wait_until([&] {
      std::lock_guard lock(document_->play_mutex);
      return document_->stop_requested != 0;
    });
    fake_.release();
  });
  audio_document_stop_playback(*document_);
  releaser.join();
  EXPECT_EQ(audio_document_is_playing(*document_), 0);
  {
    std::lock_guard lock(document_->play_mutex);
    EXPECT_EQ(document_->stop_requested, 0);
    EXPECT_FALSE(document_->play_thread_handle.joinable());
  }
  EXPECT_EQ(played(), slice(data_, 0, PLAY_CHUNK));
  EXPECT_EQ(fake_.closes, 1);
}

TEST_F(Playback, LateStopRequestDoesNotCutTheNextPlayback) {
  open(counting_bytes(10 * CD_BLOCK));
  {
    // What a stop that came after the previous playback's last check leaves behind.
    std::lock_guard lock(document_->play_mutex);
    document_->stop_requested = 1;
  }
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  wait_idle();
  EXPECT_EQ(played(), data_);
}

TEST_F(Playback, RestartAfterAPlaybackEndedByItself) {
  open(counting_bytes(3 * CD_BLOCK));
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  wait_idle();
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  wait_idle();
  Bytes twice = data_;
  twice.insert(twice.end(), data_.begin(), data_.end());
  EXPECT_EQ(played(), twice);
  EXPECT_EQ(fake_.closes, 2);
}

TEST_F(Playback, NoDeviceEndsThePlaybackAtOnce) {
  open(counting_bytes(3 * CD_BLOCK));
  fake_.open_succeeds = false;
  testing::internal::CaptureStderr();
  ASSERT_EQ(audio_document_start_playback(*document_, 0), 0);
  wait_idle();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open default libao device\n");
  EXPECT_TRUE(played().empty());
  EXPECT_EQ(fake_.closes, 0);
}

}  // namespace
