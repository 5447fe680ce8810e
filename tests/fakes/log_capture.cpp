#include "tests/fakes/log_capture.h"

#include "support/utf16.h"

LogCapture::LogCapture(bool verbose)
    : savedVerbose_(UpdateSettings.verboseLogging), clockSeam_(&clock), fileSeam_(&file) {
  UpdateSettings.verboseLogging = verbose;
}

LogCapture::~LogCapture() { UpdateSettings.verboseLogging = savedVerbose_; }

std::vector<std::wstring> LogCapture::Lines() {
  std::vector<std::wstring> lines;
  for (const auto& record : file.Records()) lines.push_back(DecodeUtf16LE(record.bytes));
  return lines;
}

std::vector<std::wstring> LogCapture::Messages() {
  std::vector<std::wstring> messages;
  for (const std::wstring& line : Lines()) {
    std::size_t start = line.find(L"] ");
    std::size_t end = line.rfind(L"\r\n");
    if (start == std::wstring::npos || end == std::wstring::npos || end < start + 2) continue;
    messages.push_back(line.substr(start + 2, end - start - 2));
  }
  return messages;
}

std::vector<std::wstring> LogCapture::Codes() {
  std::vector<std::wstring> codes;
  for (const std::wstring& m : Messages()) codes.push_back(m.substr(0, m.find(L' ')));
  return codes;
}
