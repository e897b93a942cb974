#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "document/document_fixtures.h"
#include "document/split_writer.h"
#include "formats/cdda/cdda.h"
#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "support/log_capture.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

// What the fake modules were asked to write, and which tracks fail.
struct FakeWrite {
  std::string path;  // the final path of the request
  std::string file;  // where the open file handed over lies
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  int track_number = 0;
  std::string tags;  // "title, artist, number/total", or "none"
};
struct FakeWrites {
  std::mutex mutex;  // the side-by-side module writes from several threads
  std::vector<FakeWrite> calls;
  std::set<std::string> failing;  // track names
  // Tracks being written at the moment, and the most there ever were at once.
  int running = 0;
  int most_running = 0;
  std::condition_variable running_changed;
  int waiting_for_company = 0;  // so many writes wait (a while) until another one runs
} fake_writes;

std::string path_of_open_file(std::FILE* fp) {
  return fs::read_symlink("/proc/self/fd/" + std::to_string(fileno(fp))).string();
}

void reset_fake_writes() {
  std::lock_guard lock(fake_writes.mutex);
  fake_writes.calls.clear();
  fake_writes.failing.clear();
  fake_writes.running = fake_writes.most_running = 0;
  fake_writes.waiting_for_company = 0;
}

// Tracks are named "NAME.mem" in the output folder.
bool fails(std::string_view path) {
  const std::string name = fs::path(path).filename().string();
  for (const std::string& failing : fake_writes.failing) {
    if (name == failing + ".mem") return true;
  }
  return false;
}

void wait_for_company() {
  std::unique_lock lock(fake_writes.mutex);
  fake_writes.most_running = std::max(fake_writes.most_running, ++fake_writes.running);
  fake_writes.running_changed.notify_all();
  if (fake_writes.waiting_for_company > 0) {
    --fake_writes.waiting_for_company;
    fake_writes.running_changed.wait_for(lock, std::chrono::seconds(5),
                                         [] { return fake_writes.most_running > 1; });
  }
  --fake_writes.running;
}

// The call that wrote the track of break list number track_number; the side-by-side module
// may have been called in another order.
const FakeWrite* call_for(int track_number) {
  for (const FakeWrite& call : fake_writes.calls) {
    if (call.track_number == track_number) return &call;
  }
  return nullptr;
}

// Writes "start-end" into the open file and reports half way; a failing track leaves a
// partial file behind, as a module that was cut short would.
int fake_write_range(AudioFile&, const TrackRequest& request) {
  wait_for_company();
  const TrackTags* tags = request.tags;
  const std::string tag_text =
      tags == nullptr ? "none"
                      : tags->title + ", " + tags->artist + ", " + std::to_string(tags->track_number) +
                            "/" + std::to_string(tags->track_total);
  bool fail = false;
  {
    std::lock_guard lock(fake_writes.mutex);
    fail = fails(request.path);
    fake_writes.calls.push_back({std::string(request.path), path_of_open_file(request.out), request.start,
                                 request.end, request.track_number, tag_text});
  }
  const std::string text = fail ? "partial" : std::to_string(request.start) + "-" + std::to_string(request.end);
  std::fputs(text.c_str(), request.out);
  std::fflush(request.out);
  request.progress(request.user_data, 0.5);
  return fail ? -1 : 0;
}

const FormatModule FAKE_MODULE = {"fake", "test", ".mem", nullptr, memory_close, memory_read,
                                  fake_write_range};
const FormatModule FAKE_TAGGED_MODULE = {"fake tagged", "test", ".mem", nullptr, memory_close,
                                         memory_read, fake_write_range, true};
const FormatModule SIDE_BY_SIDE_MODULE = {"fake", "test", ".mem", nullptr, memory_close,
                                          memory_read, fake_write_range, false, 4};

// Records every callback as one line of text, in order.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  bool done = false;
  int cancel_from_call = -1;  // is_cancelled answers 1 from this 0-based call on
  int cancel_calls = 0;
  std::vector<int> answers;   // handed out in order by ask_overwrite
  std::size_t next_answer = 0;
  AudioDocument* document = nullptr;
  int splitting_at_finish = -1;
  std::string thread_at_finish;

  void add(const std::string& event) {
    std::lock_guard lock(mutex);
    events.push_back(event);
  }
  bool wait_done() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return done; });
  }
};

std::string name_of(const std::string& path) { return fs::path(path).filename().string(); }

const SplitCallbacks RECORDING_CALLBACKS = {
    [](int index, int count, const std::string& path, void* self) {
      static_cast<Recorder*>(self)->add("started " + std::to_string(index) + "/" +
                                        std::to_string(count) + " " + name_of(path));
    },
    [](void* self, double fraction) {
      char text[32];
      std::snprintf(text, sizeof text, "progress %g", fraction);
      static_cast<Recorder*>(self)->add(text);
    },
    [](const std::string& path, void* self) {
      static_cast<Recorder*>(self)->add("error " + name_of(path));
    },
    [](void* self) {
      auto* recorder = static_cast<Recorder*>(self);
      const int splitting = audio_document_is_splitting(*recorder->document);
      char thread_name[16] = {};
      pthread_getname_np(pthread_self(), thread_name, sizeof thread_name);
      std::lock_guard lock(recorder->mutex);
      recorder->splitting_at_finish = splitting;
      recorder->thread_at_finish = thread_name;
      recorder->events.push_back("finished");
      recorder->done = true;
      recorder->changed.notify_all();
    },
    [](void* self) {
      auto* recorder = static_cast<Recorder*>(self);
      std::lock_guard lock(recorder->mutex);
      recorder->events.push_back("cancelled?");
      const int call = recorder->cancel_calls++;
      return recorder->cancel_from_call >= 0 && call >= recorder->cancel_from_call ? 1 : 0;
    },
    [](const std::string& path, void* self) {
      auto* recorder = static_cast<Recorder*>(self);
      std::lock_guard lock(recorder->mutex);
      recorder->events.push_back("ask " + name_of(path));
      return recorder->answers.at(recorder->next_answer++);
    },
    nullptr,
};

struct Break {
  std::int32_t write;
  std::uint64_t offset;
  const char* name;
};

// One document of a fake module, its list and what its job reported.
struct SplitRun {
  SplitRun() { reset_fake_writes(); }

  // A 30-block document of the fake module, analysed.
  void open(const FormatModule& module = FAKE_MODULE) {
    AudioFilePtr file = memory_file(cd_sample_info(30 * CD_BLOCK), Bytes(30 * CD_BLOCK, 0), 30 * CD_BLOCK);
    file->module = &module;
    ErrorText error;
    document_ = audio_document_open_file(std::move(file), &error);
    ASSERT_TRUE(document_);
    wait_analyzed(*document_);
    recorder_.document = document_.get();
  }

  void run(const std::vector<Break>& breaks, bool tags = false) {
    list_ = track_break_list_new("show");
    track_break_list_set_length(*list_, 31);
    for (const Break& b : breaks) {
      TrackBreak* brk = track_break_list_add(*list_, b.write, b.offset, b.name);
      brk->metadata.title = std::string("Title of ") + b.name;
    }
    list_->album.performer = "The Band";
    SplitCallbacks callbacks = RECORDING_CALLBACKS;
    callbacks.user_data = &recorder_;
    ASSERT_EQ(audio_document_start_split(*document_, *list_, callbacks, dir_.path().string(), tags), 0);
    ASSERT_TRUE(recorder_.wait_done());
    audio_document_close(std::move(document_));
  }

  std::string out(const std::string& name) const { return dir_ / name; }

  // The names in the output folder other than the given ones: left-over temporary files.
  std::vector<std::string> strays(const std::set<std::string>& expected) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (expected.count(name) == 0) found.push_back(name);
    }
    return found;
  }

  TempDir dir_;
  AudioDocumentPtr document_;
  TrackBreakListPtr list_;
  Recorder recorder_;
};

class SplitWriter : public ::testing::Test, protected SplitRun {};

// The walks of both kinds of module, one track at a time and side by side, must look the
// same to the callbacks.
class SplitWalk : public ::testing::TestWithParam<const FormatModule*>, protected SplitRun {};

INSTANTIATE_TEST_SUITE_P(Modules, SplitWalk, ::testing::Values(&FAKE_MODULE, &SIDE_BY_SIDE_MODULE),
                         [](const auto& info) {
                           return info.param->concurrent_writes > 1 ? "SideBySide" : "OneAtATime";
                         });

TEST_P(SplitWalk, UnselectedBreakEndsThePreviousTrack) {
  open(*GetParam());
  run({{1, 0, "one"}, {0, 10, "gap"}, {1, 20, "two"}});
  const std::vector<std::string> expected = {
      "cancelled?",         "started 1/2 one.mem", "progress 0",   "progress 0.5",
      "progress 1",         "cancelled?",          "cancelled?",   "started 2/2 two.mem",
      "progress 0",         "progress 0.5",        "progress 1",   "finished"};
  EXPECT_EQ(recorder_.events, expected);
  ASSERT_EQ(fake_writes.calls.size(), 2u);
  const FakeWrite* first = call_for(1);
  const FakeWrite* third = call_for(3);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(first->start, 0u);
  EXPECT_EQ(first->end, 23520u);
  EXPECT_EQ(first->path, out("one.mem"));
  EXPECT_EQ(third->start, 47040u);
  EXPECT_EQ(third->end, 0u);
  EXPECT_EQ(read_text(out("one.mem")), "0-23520");
  EXPECT_EQ(read_text(out("two.mem")), "47040-0");
  EXPECT_EQ(recorder_.splitting_at_finish, 0);
  EXPECT_EQ(recorder_.thread_at_finish, "write data");
  EXPECT_EQ(strays({"one.mem", "two.mem"}), std::vector<std::string>{});
}

// A name that leaves the output folder is refused in its turn, in either walk: nothing is
// started for it, not even ahead, and the tracks around it are written.
TEST_P(SplitWalk, NameOutsideTheFolderIsRefusedInItsTurn) {
  open(*GetParam());
  LogCapture log;
  run({{1, 0, "one"}, {1, 10, "../up"}, {1, 20, "two"}});
  const std::vector<std::string> expected = {
      "cancelled?", "started 1/3 one.mem", "progress 0",  "progress 0.5", "progress 1",
      "cancelled?", "started 2/3 up.mem",  "progress 0",  "error up.mem", "progress 1",
      "cancelled?", "started 3/3 two.mem", "progress 0",  "progress 0.5", "progress 1",
      "finished"};
  EXPECT_EQ(recorder_.events, expected);
  EXPECT_EQ(fake_writes.calls.size(), 2u);
  EXPECT_EQ(call_for(2), nullptr);
  EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "up.mem"));
  EXPECT_EQ(log.count("Refusing track name '../up' from the break list: a '..' component can lead "
                      "outside the output folder"),
            1u)
      << log.text();
  EXPECT_EQ(strays({"one.mem", "two.mem"}), std::vector<std::string>{});
}

TEST_F(SplitWriter, TagsReachTheModuleOnlyWhenAskedFor) {
  struct Case {
    const FormatModule* module;
    bool tags;
    std::vector<std::string> written;
    const char* warning;
  };
  const Case cases[] = {
      {&FAKE_TAGGED_MODULE, false, {"none", "none"}, ""},
      {&FAKE_TAGGED_MODULE, true, {"Title of one, The Band, 1/3", "Title of two, The Band, 3/3"}, ""},
      {&FAKE_MODULE, true, {"Title of one, The Band, 1/3", "Title of two, The Band, 3/3"},
       "fake files carry no tags: the tracks are written without them\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.module->name) + (c.tags ? " with tags" : ""));
    SplitRun split;
    LogCapture log;
    split.open(*c.module);
    split.run({{1, 0, "one"}, {0, 10, "gap"}, {1, 20, "two"}}, c.tags);
    std::vector<std::string> written;
    for (const FakeWrite& call : fake_writes.calls) written.push_back(call.tags);
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(log.text(), c.warning);
  }
}

TEST_F(SplitWriter, EmptyListOnlyFinishes) {
  open();
  run({});
  EXPECT_EQ(recorder_.events, std::vector<std::string>{"finished"});
}

TEST_F(SplitWriter, CancelledBeforeTheSecondBreakEndsTheJob) {
  open();
  recorder_.cancel_from_call = 1;
  run({{1, 0, "one"}, {1, 10, "two"}, {1, 20, "three"}});
  const std::vector<std::string> expected = {"cancelled?", "started 1/3 one.mem", "progress 0",
                                             "progress 0.5", "progress 1", "cancelled?",
                                             "finished"};
  EXPECT_EQ(recorder_.events, expected);
  EXPECT_EQ(recorder_.splitting_at_finish, 0);
}

TEST_F(SplitWriter, WritesTracksUnderATemporaryNameInTheOutputFolder) {
  open();
  run({{1, 0, "one"}});
  ASSERT_EQ(fake_writes.calls.size(), 1u);
  EXPECT_EQ(fake_writes.calls[0].path, out("one.mem"));
  const fs::path temporary = fake_writes.calls[0].file;
  EXPECT_EQ(temporary.parent_path(), dir_.path());
  EXPECT_EQ(temporary.filename().string().rfind(".one.mem.tfold-", 0), 0u) << temporary;
  EXPECT_FALSE(fs::exists(temporary));
}

TEST_P(SplitWalk, FailedWriteKeepsTheOldFileAndGoesOn) {
  open(*GetParam());
  write_text(out("one.mem"), "the user's own file");
  fake_writes.failing = {"one"};
  recorder_.answers = {OVERWRITE_YES};
  LogCapture log;
  run({{1, 0, "one"}, {1, 10, "two"}});
  const std::vector<std::string> expected = {
      "cancelled?", "started 1/2 one.mem", "progress 0",          "ask one.mem",
      "progress 0.5", "error one.mem",     "progress 1",          "cancelled?",
      "started 2/2 two.mem", "progress 0", "progress 0.5",        "progress 1",
      "finished"};
  EXPECT_EQ(recorder_.events, expected);
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Could not write file " + out("one.mem")});
  EXPECT_EQ(read_text(out("one.mem")), "the user's own file");
  EXPECT_EQ(read_text(out("two.mem")), "23520-0");
  EXPECT_EQ(strays({"one.mem", "two.mem"}), std::vector<std::string>{});
}

TEST_F(SplitWriter, ReplacedFileKeepsItsPermissions) {
  open();
  write_text(out("one.mem"), "old");
  ASSERT_EQ(chmod(out("one.mem").c_str(), 0640), 0);
  recorder_.answers = {OVERWRITE_YES};
  run({{1, 0, "one"}});
  EXPECT_EQ(read_text(out("one.mem")), "0-0");
  struct stat st {};
  ASSERT_EQ(stat(out("one.mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_P(SplitWalk, StandingAnswersForExistingFiles) {
  struct Case {
    const char* what;
    std::vector<std::string> existing;
    std::vector<int> answers;
    std::vector<std::string> asked;
    std::vector<std::string> written;
  };
  const std::vector<Case> cases = {
      {"no, yes, yes", {"a", "b", "c"}, {OVERWRITE_NO, OVERWRITE_YES, OVERWRITE_YES},
       {"a", "b", "c"}, {"b", "c"}},
      {"skip all", {"a", "b", "c"}, {OVERWRITE_SKIP_ALL}, {"a"}, {}},
      {"all", {"a", "b", "c"}, {OVERWRITE_ALL}, {"a"}, {"a", "b", "c"}},
      {"a new file after skip all", {"a", "c"}, {OVERWRITE_SKIP_ALL}, {"a"}, {"b"}},
      {"unknown codes keep the file", {"a", "b"}, {0, 7}, {"a", "b"}, {"c"}},
      {"yes does not stand", {"a", "b"}, {OVERWRITE_YES, OVERWRITE_NO}, {"a", "b"}, {"a", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SplitRun split;
    for (const std::string& name : c.existing) write_text(split.out(name + ".mem"), "old");
    split.recorder_.answers = c.answers;
    split.open(*GetParam());
    split.run({{1, 0, "a"}, {1, 10, "b"}, {1, 20, "c"}});

    std::vector<std::string> asked;
    for (const std::string& event : split.recorder_.events) {
      if (event.rfind("ask ", 0) == 0) asked.push_back(event.substr(4, 1));
    }
    EXPECT_EQ(asked, c.asked);
    std::vector<std::string> written;
    for (const char* name : {"a", "b", "c"}) {
      const std::string path = split.out(std::string(name) + ".mem");
      if (fs::exists(path) && read_text(path) != "old") written.push_back(name);
    }
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(split.recorder_.events.back(), "finished");
  }
}

TEST_F(SplitWriter, SideBySideModuleWritesTheNextTracksAheadInOrderOnTheConsole) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: one track at a time";
  open(SIDE_BY_SIDE_MODULE);
  // The first two tracks meet only if they are written at the same time.
  fake_writes.waiting_for_company = 2;
  run({{1, 0, "one"}, {1, 10, "two"}, {1, 20, "three"}});
  EXPECT_EQ(fake_writes.most_running, 2);
  const std::vector<std::string> expected = {
      "cancelled?",   "started 1/3 one.mem", "progress 0", "progress 0.5", "progress 1",
      "cancelled?",   "started 2/3 two.mem", "progress 0", "progress 0.5", "progress 1",
      "cancelled?",   "started 3/3 three.mem", "progress 0", "progress 0.5", "progress 1",
      "finished"};
  EXPECT_EQ(recorder_.events, expected);
  EXPECT_EQ(read_text(out("one.mem")), "0-23520");
  EXPECT_EQ(read_text(out("two.mem")), "23520-47040");
  EXPECT_EQ(read_text(out("three.mem")), "47040-0");
  EXPECT_EQ(strays({"one.mem", "two.mem", "three.mem"}), std::vector<std::string>{});
}

TEST_F(SplitWriter, RefusesASecondJobWhileOneRuns) {
  open();
  // The job waits in its question until the test has tried to start another.
  write_text(out("one.mem"), "old");
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool asked = false, released = false;
  struct Gate {
    std::mutex* mutex;
    std::condition_variable* cv;
    bool* asked;
    bool* released;
    Recorder* recorder;
  } state{&gate_mutex, &gate, &asked, &released, &recorder_};
  SplitCallbacks callbacks = RECORDING_CALLBACKS;
  callbacks.user_data = &state;
  callbacks.file_started = [](int, int, const std::string&, void*) {};
  callbacks.progress = [](void*, double) {};
  callbacks.is_cancelled = [](void*) { return 0; };
  callbacks.finished = [](void* self) {
    auto* s = static_cast<Gate*>(self);
    std::lock_guard lock(s->recorder->mutex);
    s->recorder->done = true;
    s->recorder->changed.notify_all();
  };
  callbacks.ask_overwrite = [](const std::string&, void* self) {
    auto* s = static_cast<Gate*>(self);
    std::unique_lock lock(*s->mutex);
    *s->asked = true;
    s->cv->notify_all();
    s->cv->wait(lock, [&] { return *s->released; });
    return static_cast<int>(OVERWRITE_NO);
  };
  list_ = track_break_list_new("show");
  track_break_list_set_length(*list_, 31);
  track_break_list_add(*list_, 1, 0, "one");
  ASSERT_EQ(audio_document_start_split(*document_, *list_, callbacks, dir_.path().string()), 0);
  {
    std::unique_lock lock(gate_mutex);
    ASSERT_TRUE(gate.wait_for(lock, std::chrono::seconds(20), [&] { return asked; }));
  }
  EXPECT_EQ(audio_document_is_splitting(*document_), 1);
  EXPECT_EQ(audio_document_start_split(*document_, *list_, callbacks, dir_.path().string()), -1);
  {
    std::lock_guard lock(gate_mutex);
    released = true;
    gate.notify_all();
  }
  ASSERT_TRUE(recorder_.wait_done());
  EXPECT_EQ(audio_document_is_splitting(*document_), 0);
  audio_document_close(std::move(document_));
  EXPECT_EQ(read_text(out("one.mem")), "old");
}

// A door that threads wait at until the test opens it; it stays open then.
struct Door {
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false;
  bool open = false;

  void pass() {
    std::unique_lock lock(mutex);
    reached = true;
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
  }
  bool wait_reached() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return reached; });
  }
  void unlock() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

Door analysis_door;

// The fake module's reads wait at the door: the analysis cannot finish before the test lets it.
std::int64_t read_behind_door(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  analysis_door.pass();
  return memory_read(file, buffer, offset);
}

const FormatModule DOOR_MODULE = {"door", "test", ".mem", nullptr, memory_close, read_behind_door,
                                  fake_write_range};

TEST(DocumentJobs, NeitherSplitNorPlaybackStartsBeforeTheAnalysisHasFinished) {
  analysis_door.reached = analysis_door.open = false;
  AudioFilePtr file = memory_file(cd_sample_info(30 * CD_BLOCK), Bytes(30 * CD_BLOCK, 0), 30 * CD_BLOCK);
  file->module = &DOOR_MODULE;
  ErrorText error;
  AudioDocumentPtr document = audio_document_open_file(std::move(file), &error);
  ASSERT_TRUE(document);
  ASSERT_TRUE(analysis_door.wait_reached());
  TempDir dir;
  TrackBreakListPtr list = track_break_list_new("show");
  Recorder recorder;
  recorder.document = document.get();
  SplitCallbacks callbacks = RECORDING_CALLBACKS;
  callbacks.user_data = &recorder;

  EXPECT_EQ(audio_document_start_split(*document, *list, callbacks, dir.path().string()), -1);
  EXPECT_EQ(audio_document_is_splitting(*document), 0);
  EXPECT_EQ(audio_document_start_playback(*document, 0), 4);
  EXPECT_EQ(audio_document_is_playing(*document), 0);
  analysis_door.unlock();
  wait_analyzed(*document);
  ASSERT_EQ(audio_document_start_split(*document, *list, callbacks, dir.path().string()), 0);
  ASSERT_TRUE(recorder.wait_done());
  audio_document_close(std::move(document));
}

// The previous job's finished call is still running while a new job is being started: the
// start in progress must already count, or a second caller would start as well and replace
// the job and the thread under the first.
TEST_F(SplitWriter, AStartInProgressRefusesAnotherStart) {
  open();
  list_ = track_break_list_new("show");
  Door finishing;
  SplitCallbacks first = RECORDING_CALLBACKS;
  first.user_data = &finishing;
  first.finished = [](void* door) { static_cast<Door*>(door)->pass(); };
  ASSERT_EQ(audio_document_start_split(*document_, *list_, first, dir_.path().string()), 0);
  ASSERT_TRUE(finishing.wait_reached());
  ASSERT_EQ(audio_document_is_splitting(*document_), 0);

  SplitCallbacks second = RECORDING_CALLBACKS;
  second.user_data = &recorder_;
  int second_started = 1;
  // Waits for the first job's thread to end inside the start.
  std::thread starter([&] {
    second_started = audio_document_start_split(*document_, *list_, second, dir_.path().string());
  });
  const bool claimed = wait_until([&] { return audio_document_is_splitting(*document_) == 1; });
  if (claimed) {
    EXPECT_EQ(audio_document_start_split(*document_, *list_, second, dir_.path().string()), -1);
  }
  finishing.unlock();
  starter.join();
  EXPECT_TRUE(claimed) << "a start waiting for the previous job's thread did not count as a job";
  EXPECT_EQ(second_started, 0);
  ASSERT_TRUE(recorder_.wait_done());
  EXPECT_EQ(recorder_.events, std::vector<std::string>{"finished"});
  audio_document_close(std::move(document_));
}

TEST(SplitOutputPath, ExtensionRules) {
  format_init();
  struct Case {
    std::string folder, name, source;
    const FormatModule* module;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"out", "Show01", "a/Show.WAV", wav_module(), "out/Show01.WAV"},
      {"out", "Show.WAV-01", "a/Show.WAV", wav_module(), "out/Show.WAV-01.WAV"},
      {"my.WAV.files", "Show01", "a/Show.WAV", wav_module(), "my.WAV.files/Show01.WAV"},
      {"out", "Show01", "a/Show.wav", wav_module(), "out/Show01.wav"},
      {"out", "Show01", "a/recording", wav_module(), "out/Show01.wav"},
      {"out", "Show01", "my.music/recording", wav_module(), "out/Show01.wav"},
      {"out", "Show01", "Show.flac.wav", wav_module(), "out/Show01.wav"},
      {"out", "Show01", "disc.cdda.raw", cdda_module(), "out/Show01.cdda.raw"},
      {"out/", "Show01", "Show.wav", wav_module(), "out//Show01.wav"},
      {"out", "Show01.wav.bak", "Show.wav", wav_module(), "out/Show01.wav.bak.wav"},
      {"out", "Show01.WAV", "Show.wav", wav_module(), "out/Show01.WAV.wav"},
      {"out", "The .wav song", "Show.wav", wav_module(), "out/The .wav song.wav"},
      {"out", "Song.wav", "Show.wav", wav_module(), "out/Song.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.expected);
    EXPECT_EQ(split_output_path(c.folder, c.name, c.source, *c.module), c.expected);
  }
}

TEST(SplitOutputPath, LongPathsAreNotCut) {
  const std::string folder(2000, 'd');
  const std::string path = split_output_path(folder, std::string(300, 'n'), "x.wav", *wav_module());
  EXPECT_EQ(path, folder + "/" + std::string(300, 'n') + ".wav");
}

}  // namespace
