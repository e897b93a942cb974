#include "io/kernel_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/file_size_limit.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using tfold_test::Bytes;
using tfold_test::counting_bytes;
using tfold_test::read_file;
using tfold_test::slice;

class Fd {
 public:
  Fd(const std::string& path, int flags) : fd_(open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// More than one pipe's worth (a mebibyte), ending inside a page.
const Bytes SOURCE = counting_bytes((1 << 20) + 300001);

TEST(KernelCopy, CopiesRangesAtAnyOffsetWithinPages) {
  const struct {
    const char* what;
    std::uint64_t from;
    std::uint64_t to;
    std::uint64_t length;
  } cases[] = {
      {"page-aligned on both sides", 0, 0, SOURCE.size()},
      {"behind a WAV header", 44, 44, SOURCE.size() - 44},
      {"pages cut differently on each side", 44 + 7 * 2352, 44, (1 << 20) + 1},
      {"a few bytes", 4095, 3, 2},
  };
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "source", SOURCE);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      const Fd in(dir / "source", O_RDONLY);
      const Fd out(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
      off_t out_pos = static_cast<off_t>(c.to);
      EXPECT_EQ(copy_in_kernel(in.get(), c.from, out.get(), &out_pos, c.length), c.length);
      EXPECT_EQ(out_pos, static_cast<off_t>(c.to + c.length));
    }
    const Bytes out = read_file(dir / "out");
    ASSERT_EQ(out.size(), c.to + c.length);
    EXPECT_EQ(slice(out, c.to, c.length), slice(SOURCE, c.from, c.length));
  }
}

TEST(KernelCopy, WithoutOffsetWritesAtTheFilePosition) {
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "source", SOURCE);
  const Fd in(dir / "source", O_RDONLY);
  const Fd out(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_EQ(write(out.get(), "head", 4), 4);
  EXPECT_EQ(copy_in_kernel(in.get(), 100, out.get(), nullptr, 5000), 5000u);
  EXPECT_EQ(copy_in_kernel(in.get(), 0, out.get(), nullptr, 10), 10u);
  Bytes expected = {'h', 'e', 'a', 'd'};
  const Bytes first = slice(SOURCE, 100, 5000);
  const Bytes second = slice(SOURCE, 0, 10);
  expected.insert(expected.end(), first.begin(), first.end());
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(read_file(dir / "out"), expected);
}

TEST(KernelCopy, StopsAtTheEndOfTheSource) {
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "source", SOURCE);
  const Fd in(dir / "source", O_RDONLY);
  const Fd out(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  off_t out_pos = 0;
  EXPECT_EQ(copy_in_kernel(in.get(), SOURCE.size() - 10, out.get(), &out_pos, 1000), 10u);
  EXPECT_EQ(copy_in_kernel(in.get(), SOURCE.size() + 10, out.get(), &out_pos, 1000), 0u);
  EXPECT_EQ(read_file(dir / "out"), slice(SOURCE, SOURCE.size() - 10, 10));
}

TEST(KernelCopy, CountsOnlyTheBytesTheOutputTook) {
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "source", SOURCE);
  const Fd in(dir / "source", O_RDONLY);
  const Fd out(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  off_t out_pos = 0;
  std::uint64_t copied = 0;
  {
    const tfold_test::FileSizeLimit limit(100000);
    copied = copy_in_kernel(in.get(), 0, out.get(), &out_pos, SOURCE.size());
  }

  EXPECT_EQ(copied, 100000u);
  EXPECT_EQ(out_pos, 100000);
  EXPECT_EQ(read_file(dir / "out"), slice(SOURCE, 0, 100000));
}

std::uint64_t allocated_bytes(int fd) {
  struct stat st {};
  EXPECT_EQ(fstat(fd, &st), 0);
  return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

TEST(KernelCopy, SpaceSetAsideIsGivenBackAfterAShortCopy) {
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "source", SOURCE);
  const Fd in(dir / "source", O_RDONLY);
  const Fd out(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  reserve_space(out.get(), 0, 64 << 20);
  EXPECT_EQ(tfold_test::read_file(dir / "out").size(), 0u);  // the size stays
  off_t out_pos = 0;
  ASSERT_EQ(copy_in_kernel(in.get(), 0, out.get(), &out_pos, SOURCE.size()), SOURCE.size());
  release_reserved_space(out.get());
  EXPECT_EQ(read_file(dir / "out"), SOURCE);
  // The file holds no more than its own pages (and a few for the file system's bookkeeping).
  EXPECT_LT(allocated_bytes(out.get()), SOURCE.size() + (64 << 10));
}

}  // namespace
