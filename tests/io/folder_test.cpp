#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/folder.h"
#include "support/harness.h"
#include "support/system_faults.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

// Where a relative path leads from the output folder, and what each way of resolving it
// answers: 0 and the marked folder, or the errno of the refusal. The kernel follows a link
// and a '..' that stay inside; the older way, one component at a time, takes neither.
struct BeneathCase {
  const char* relative;
  const char* marker;  // the file inside the folder that should be reached
  int by_kernel;
  int by_component;
};

class FolderBeneath : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    hide_openat2(GetParam());
    const fs::path root = dir_.path();
    fs::create_directories(root / "out" / "a" / "b");
    fs::create_directories(root / "elsewhere");
    write_text(root / "out" / "a" / "b" / "in-b", "");
    write_text(root / "out" / "a" / "in-a", "");
    write_text(root / "out" / "in-out", "");
    write_text(root / "out" / "file", "");
    fs::create_directory_symlink("a", root / "out" / "link-inside");
    fs::create_directory_symlink(root / "elsewhere", root / "out" / "link-outside");
    fs::create_directory_symlink("../../elsewhere", root / "out" / "a" / "up-and-out");
  }
  void TearDown() override { clear_faults(); }

  TempDir dir_;
};

TEST_P(FolderBeneath, NoWayLeadsOutOfTheFolder) {
  const bool by_component = GetParam();
  const BeneathCase cases[] = {
      {"", "in-out", 0, 0},
      {"a/b", "in-b", 0, 0},
      {"a//b/./", "in-b", 0, 0},
      {"a/../a", "in-a", 0, EXDEV},
      {"link-inside", "in-a", 0, ENOTDIR},
      {"..", nullptr, EXDEV, EXDEV},
      {"a/../../elsewhere", nullptr, EXDEV, EXDEV},
      {"/tmp", nullptr, EXDEV, EXDEV},
      {"link-outside", nullptr, EXDEV, ENOTDIR},
      {"a/up-and-out", nullptr, EXDEV, ENOTDIR},
      {"missing", nullptr, ENOENT, ENOENT},
      {"file", nullptr, ENOTDIR, ENOTDIR},
  };
  const std::optional<Folder> out = Folder::open(dir_.path() / "out");
  ASSERT_TRUE(out);
  for (const BeneathCase& c : cases) {
    SCOPED_TRACE(c.relative);
    errno = 0;
    const std::optional<Folder> found = out->beneath(c.relative);
    const int expected = by_component ? c.by_component : c.by_kernel;
    if (expected != 0) {
      EXPECT_FALSE(found);
      EXPECT_EQ(errno, expected) << std::strerror(errno);
      continue;
    }
    ASSERT_TRUE(found) << std::strerror(errno);
    EXPECT_EQ(faccessat(found->fd(), c.marker, F_OK, 0), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(KernelAndComponentByComponent, FolderBeneath, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "WithoutOpenat2" : "WithOpenat2";
                         });

TEST(FolderBeneathWorking, ResolvesRelativeToTheWorkingFolderWithoutOpenat2) {
  TempDir dir;
  fs::create_directories(dir.path() / "x");
  write_text(dir.path() / "x" / "marker", "");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  hide_openat2(true);
  const std::optional<Folder> found = Folder::working().beneath("x");
  const std::optional<Folder> up = Folder::working().beneath("..");
  clear_faults();
  fs::current_path(before);
  ASSERT_TRUE(found);
  EXPECT_EQ(faccessat(found->fd(), "marker", F_OK, 0), 0);
  EXPECT_FALSE(up);
}

}  // namespace
