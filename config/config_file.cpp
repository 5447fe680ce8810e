#include "config/config_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/file_store.h"
#include "platform/seam.h"
#include "support/folder_path_cache.h"

namespace {

std::string g_configFilePath;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kWriteChunk = 64 * 1024;
constexpr std::size_t kFirstLineBuffer = 1024;

bool IsBlank(char c) {
  const signed char s = static_cast<signed char>(c);
  return s != 0 && s <= 0x20;
}

// The bytes of a file, in chunks of whatever size the platform hands out.
class ChunkReader {
 public:
  explicit ChunkReader(platform::FileReader& file) : file_(file), buffer_(kReadChunk) {}
  // The next chunk, empty at the end of the file or after a read error.
  std::string_view Next() {
    if (done_) return {};
    platform::StepOr<std::size_t> n = file_.Read(buffer_.data(), buffer_.size());
    if (!n.ok || n.value == 0) {
      done_ = true;
      return {};
    }
    return std::string_view(buffer_.data(), n.value);
  }

 private:
  platform::FileReader& file_;
  std::vector<char> buffer_;
  bool done_ = false;
};

}  // namespace

std::string ConfigFilePath() {
  return CachedFolderPath(g_configFilePath, ShellFolder::kSystem, {L"Kestran", L"Vexel", L"vxm.cfg"});
}

void ForgetConfigFilePath() { g_configFilePath.clear(); }

std::string_view TrimBlank(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

ConfigFile::ConfigFile(std::string path) : path_(std::move(path)) { Read(); }

std::string ConfigFile::Get(std::string_view key) const { return table_.Find(key).value; }

void ConfigFile::Set(std::string_view key, std::string_view value) { table_.Put(key, value); }

void ConfigFile::ParseLine(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = TrimBlank(line.substr(0, equals));
  const std::string_view value = TrimBlank(line.substr(equals + 1));
  if (key.empty() || value.empty()) return;
  table_.Put(key, value);
}

void ConfigFile::Read() {
  platform::StepOr<std::unique_ptr<platform::FileReader>> opened =
      platform::Seam<platform::FileStore>::Get().OpenForReading(path_);
  if (!opened.ok || opened.value == nullptr) return;
  ChunkReader reader(*opened.value);

  // The first four bytes decide whether the file is read at all.
  std::string head;
  std::string_view chunk;
  while (head.size() < 4) {
    chunk = reader.Next();
    if (chunk.empty()) return;
    const std::size_t take = std::min<std::size_t>(4 - head.size(), chunk.size());
    head.append(chunk.data(), take);
    chunk.remove_prefix(take);
  }
  const unsigned char b0 = static_cast<unsigned char>(head[0]);
  const unsigned char b1 = static_cast<unsigned char>(head[1]);
  const unsigned char b2 = static_cast<unsigned char>(head[2]);
  std::size_t skip = 0;
  if (b0 == 0xEF && b1 == 0xBB && b2 == 0xBF) {
    skip = 3;
  } else if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE)) {
    return;
  }

  std::string line;
  line.reserve(kFirstLineBuffer);
  bool afterCarriageReturn = false;
  // Splits `bytes` at line ends; a line may run on into the next chunk, and
  // so may the LF of a CR LF.
  auto consume = [&](std::string_view bytes) {
    while (!bytes.empty()) {
      if (afterCarriageReturn) {
        afterCarriageReturn = false;
        if (bytes.front() == '\n') {
          bytes.remove_prefix(1);
          continue;
        }
      }
      const char* end = std::find_if(bytes.begin(), bytes.end(), [](char c) { return c == '\n' || c == '\r'; });
      const std::size_t length = static_cast<std::size_t>(end - bytes.begin());
      line.append(bytes.data(), length);
      if (length == bytes.size()) return;
      afterCarriageReturn = bytes[length] == '\r';
      ParseLine(line);
      line.clear();
      bytes.remove_prefix(length + 1);
    }
  };
  consume(std::string_view(head).substr(skip));
  consume(chunk);
  for (chunk = reader.Next(); !chunk.empty(); chunk = reader.Next()) consume(chunk);
  // The last line, which may be the empty one after a final line end.
  ParseLine(line);
}

bool ConfigFile::Save() const {
  if (path_.empty()) return false;
  platform::FileStore& store = platform::Seam<platform::FileStore>::Get();
  platform::StepOr<platform::NewFile> created = store.CreateBeside(path_);
  if (!created.ok || created.value.writer == nullptr) return false;
  platform::NewFile& next = created.value;

  // Everything from here on that fails removes the new file; the old one
  // was never touched.
  auto abandon = [&]() {
    next.writer.reset();
    store.Delete(next.path);
    return false;
  };

  std::string buffer;
  bool written = true;
  try {
    buffer.reserve(kWriteChunk);
    for (const ConfigEntry* e = table_.First(); e != table_.Sentinel() && written; e = e->next) {
      buffer += e->key;
      buffer += '=';
      buffer += e->value;
      buffer += "\r\n";
      if (buffer.size() >= kWriteChunk) {
        written = next.writer->Write(buffer.data(), buffer.size()).ok;
        buffer.clear();
      }
    }
  } catch (const std::bad_alloc&) {
    abandon();
    throw;
  }
  if (written && !buffer.empty()) written = next.writer->Write(buffer.data(), buffer.size()).ok;
  if (!written) return abandon();
  if (!next.writer->FlushAndClose().ok) return abandon();
  next.writer.reset();
  if (!store.Replace(next.path, path_).ok) {
    store.Delete(next.path);
    return false;
  }
  return true;
}
