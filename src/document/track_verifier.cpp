#include "document/track_verifier.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <string>

#include "formats/registry.h"

namespace {

// Test seam, read only under --verify: TFOLD_TEST_CORRUPT_TRACK=N flips every bit of the middle
// byte of track N (its number in the break list) after it was written and before it is read
// back, as a disk or a writer at fault would, so that the tests see a mismatch caught through
// the built program. Without --verify it is never looked at.
constexpr char CORRUPT_TRACK_SEAM[] = "TFOLD_TEST_CORRUPT_TRACK";

void corrupt_for_test(const std::string& path, int track_number) {
  const char* wanted = g_getenv(CORRUPT_TRACK_SEAM);
  if (wanted == nullptr || std::atoi(wanted) != track_number) return;
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  const off_t middle = lseek(fd, 0, SEEK_END) / 2;
  unsigned char byte = 0;
  if (pread(fd, &byte, 1, middle) == 1) {
    byte ^= 0xFF;
    if (pwrite(fd, &byte, 1, middle) != 1) g_debug("The test seam could not change %s", path.c_str());
  }
  close(fd);
}

}  // namespace

TrackVerifier::~TrackVerifier() {
  for (AudioFilePtr& reader : readers_) format_close_file(std::move(reader));
}

AudioFilePtr TrackVerifier::borrow_reader(ErrorText* error) {
  {
    std::lock_guard lock(mutex_);
    if (!readers_.empty()) {
      AudioFilePtr reader = std::move(readers_.back());
      readers_.pop_back();
      return reader;
    }
  }
  const FormatModule& module = *source_.module;
  OpenResult opened = module.open_file(module, source_.path);
  if (opened.kind != OpenResult::Kind::Opened) *error = opened.reason;
  return std::move(opened.file);
}

void TrackVerifier::give_back(AudioFilePtr reader) {
  std::lock_guard lock(mutex_);
  readers_.push_back(std::move(reader));
}

bool TrackVerifier::check(const TemporaryOutput& output, const TrackRequest& request) {
  const std::string reading_path = output.reading_path();
  corrupt_for_test(reading_path, request.track_number);
  const std::string name(request.path);
  ErrorText error;
  AudioFilePtr reader = borrow_reader(&error);
  if (!reader) {
    g_warning("Verification failed for %s: its source cannot be opened again: %s", name.c_str(),
              error.value_or("").c_str());
    return false;
  }
  const TrackCheck check = reader->module->verify_track != nullptr
                               ? reader->module->verify_track(*reader, request, reading_path)
                               : TrackCheck::failed("its format has no reader to check it with");
  give_back(std::move(reader));
  if (check.matches) return true;
  if (check.first_difference) {
    g_warning("Verification failed for %s: first difference at sample %" PRIu64, name.c_str(),
              *check.first_difference);
  } else {
    g_warning("Verification failed for %s: %s", name.c_str(), check.reason.c_str());
  }
  return false;
}
