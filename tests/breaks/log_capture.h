// Collects the GLib log lines that the code under test writes, instead of printing them.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

namespace tfold_test {

class LogCapture {
 public:
  LogCapture() { previous_ = g_log_set_default_handler(&LogCapture::record, this); }
  ~LogCapture() { g_log_set_default_handler(previous_, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every message so far, one per line.
  std::string text() const {
    std::string all;
    for (const std::string& message : messages_) all += message + "\n";
    return all;
  }
  void clear() { messages_.clear(); }

 private:
  static void record(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* message,
                     gpointer self) {
    static_cast<LogCapture*>(self)->messages_.emplace_back(message);
  }

  GLogFunc previous_ = nullptr;
  std::vector<std::string> messages_;
};

}  // namespace tfold_test
