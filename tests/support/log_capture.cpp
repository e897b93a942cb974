#include "support/log_capture.h"

namespace tfold_test {

LogCapture::LogCapture() { previous_ = g_log_set_default_handler(handler, this); }

LogCapture::~LogCapture() { g_log_set_default_handler(previous_, nullptr); }

void LogCapture::handler(const gchar* /*domain*/, GLogLevelFlags level, const gchar* message,
                         gpointer self) {
  auto* capture = static_cast<LogCapture*>(self);
  std::lock_guard lock(capture->mutex_);
  capture->lines_.push_back({static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), message});
}

std::vector<LogLine> LogCapture::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void LogCapture::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

namespace {
std::vector<std::string> at_level(const std::vector<LogLine>& lines, GLogLevelFlags level) {
  std::vector<std::string> out;
  for (const auto& line : lines) {
    if (line.level == level) out.push_back(line.message);
  }
  return out;
}
}  // namespace

std::vector<std::string> LogCapture::warnings() const { return at_level(lines(), G_LOG_LEVEL_WARNING); }

std::vector<std::string> LogCapture::messages() const { return at_level(lines(), G_LOG_LEVEL_MESSAGE); }

std::size_t LogCapture::count(const std::string& text) const {
  std::size_t n = 0;
  for (const auto& line : lines()) {
    if (line.message.find(text) != std::string::npos) ++n;
  }
  return n;
}

std::string LogCapture::text() const {
  std::string all;
  for (const auto& line : lines()) all += line.message + "\n";
  return all;
}

}  // namespace tfold_test
