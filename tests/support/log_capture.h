// Collects the GLib log lines of the code under test instead of printing them.
#pragma once

#include <glib.h>

#include <mutex>
#include <string>
#include <vector>

namespace tfold_test {

struct LogLine {
  GLogLevelFlags level;
  std::string message;
};

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> lines() const;
  std::vector<std::string> warnings() const;   // warning level only
  std::vector<std::string> messages() const;   // message level only
  // Number of lines of any level whose message contains text.
  std::size_t count(const std::string& text) const;
  // Every line so far, of any level, each followed by a line end.
  std::string text() const;
  void clear();

 private:
  static void handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self);
  mutable std::mutex mutex_;  // code under test may log from its own threads
  std::vector<LogLine> lines_;
  GLogFunc previous_;
};

}  // namespace tfold_test
