// The log reader's platform in memory: a file whose content a test sets and
// grows, and the text written to standard output and standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/activity_log.h"
#include "support/utf16.h"
#include "tools/logreader/log_reader_app.h"

// One log line as the program writes it: time, level and message, CR LF,
// UTF-16LE.
inline std::string LogLineBytes(const LogTime& time, LogLevel level, const std::wstring& message) {
  std::string bytes;
  AppendUtf16LE(FormatLogLine(time, level, message), bytes);
  return bytes;
}

// The UTF-16LE bytes of text, without a line end.
inline std::string Utf16Bytes(const std::wstring& text) {
  std::string bytes;
  AppendUtf16LE(text, bytes);
  return bytes;
}

class FakeReaderSystem final : public logreader::ReaderSystem {
 public:
  std::string defaultPath;     // DefaultLogPath's answer
  std::string path = "VexelInstall.log";
  std::string content;         // the file's bytes
  bool exists = true;
  std::string openError = "no such file";
  // --follow: called at each WaitForMore with the number of the wait (0 on);
  // returns false to end following. May change content.
  std::function<bool(int)> onWait = [](int) { return false; };

  std::string out;
  std::string err;
  std::vector<std::string> readPaths;

  std::string DefaultLogPath() override { return defaultPath; }

  bool Read(const std::string& p, std::uint64_t offset, std::size_t maxBytes, std::string& into,
            std::uint64_t& fileSize, std::string& error) override {
    readPaths.push_back(p);
    if (!exists || p != path) {
      error = openError;
      return false;
    }
    fileSize = content.size();
    if (offset < content.size()) into += content.substr(static_cast<std::size_t>(offset), maxBytes);
    return true;
  }

  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  void Flush() override {}
  bool WaitForMore() override { return onWait(waits_++); }

  // The lines written to standard output.
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      lines.push_back(out.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

 private:
  int waits_ = 0;
};
