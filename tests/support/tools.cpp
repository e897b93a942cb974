#include "support/tools.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace tfold_test {

ToolResult run_tool(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<gchar*>(arg.c_str()));
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint wait_status = 0;
  ToolResult result;
  if (g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                   &wait_status, nullptr)) {
    result.status = g_spawn_check_wait_status(wait_status, nullptr) ? 0 : 1;
    result.out = out;
    result.err = err;
  }
  g_free(out);
  g_free(err);
  return result;
}

Bytes flac_decoded(const std::string& track, const TempDir& scratch, const FlacDecoding& how) {
  const std::string raw = scratch / "decoded.raw";
  std::vector<std::string> args = {"flac", "-d", "-s", "-f", "--force-raw-format", "--endian=little",
                                   how.unsigned_samples ? "--sign=unsigned" : "--sign=signed", "-o", raw};
  if (how.skip > 0) args.push_back("--skip=" + std::to_string(how.skip));
  if (how.until > 0) args.push_back("--until=" + std::to_string(how.until));
  args.push_back(track);
  const ToolResult r = run_tool(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status == 0 ? read_file(raw) : Bytes();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string flac_frame_offset(const std::string& path, int index) {
  const ToolResult r = run_tool({"flac", "-a", "-s", "-o", "-", path});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string row = "frame=" + std::to_string(index) + "\toffset=";
  for (const std::string& line : lines_of(r.out)) {
    if (line.rfind(row, 0) == 0) return line.substr(row.size(), line.find('\t', row.size()) - row.size());
  }
  ADD_FAILURE() << "no frame " << index << " in " << path;
  return "";
}

}  // namespace tfold_test
