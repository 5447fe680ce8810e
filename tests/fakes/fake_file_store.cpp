#include "tests/fakes/fake_file_store.h"

#include <algorithm>
#include <new>

#include "platform/last_error.h"

namespace {

platform::Step Fail(platform::ErrorNumber error) {
  platform::SetLastError(error);
  return platform::Step::Failure(error);
}

class FakeReader final : public platform::FileReader {
 public:
  FakeReader(FakeFileStore& store, std::string bytes) : store_(store), bytes_(std::move(bytes)) {}
  platform::StepOr<std::size_t> Read(void* buffer, std::size_t size) override {
    if (store_.failReadWith != 0 && reads_ >= store_.readsBeforeFailure) {
      platform::SetLastError(store_.failReadWith);
      return platform::StepOr<std::size_t>::Failure(store_.failReadWith);
    }
    ++reads_;
    const std::size_t n = std::min({size, store_.readChunk, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
    position_ += n;
    return platform::StepOr<std::size_t>::Success(n);
  }

 private:
  FakeFileStore& store_;
  std::string bytes_;
  std::size_t position_ = 0;
  std::size_t reads_ = 0;
};

class FakeWriter final : public platform::FileWriter {
 public:
  FakeWriter(FakeFileStore& store, std::string path) : store_(store), path_(std::move(path)) {}
  platform::Step Write(const void* bytes, std::size_t size) override { return store_.WriteTo(path_, bytes, size); }
  platform::Step FlushAndClose() override { return store_.Flush(); }

 private:
  FakeFileStore& store_;
  std::string path_;
};

}  // namespace

std::string FakeFileStore::FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

platform::StepOr<std::unique_ptr<platform::FileReader>> FakeFileStore::OpenForReading(const std::string& path) {
  using Result = platform::StepOr<std::unique_ptr<platform::FileReader>>;
  ++opens;
  if (openRunsOutOfMemory) throw std::bad_alloc();
  if (failOpenWith != 0) return Result::Failure(Fail(failOpenWith).error);
  auto found = files.find(path);
  if (found == files.end()) {
    return Result::Failure(Fail(folders.count(FolderOf(path)) ? platform::error::kFileNotFound
                                                              : platform::error::kPathNotFound)
                               .error);
  }
  return Result::Success(std::make_unique<FakeReader>(*this, found->second));
}

platform::StepOr<platform::NewFile> FakeFileStore::CreateBeside(const std::string& target) {
  using Result = platform::StepOr<platform::NewFile>;
  if (failCreateWith != 0) return Result::Failure(Fail(failCreateWith).error);
  if (folders.count(FolderOf(target)) == 0) return Result::Failure(Fail(platform::error::kPathNotFound).error);
  std::string path = target + "." + std::to_string(created.size()) + ".tmp";
  files[path];
  created.push_back(path);
  return Result::Success(platform::NewFile{std::make_unique<FakeWriter>(*this, path), path});
}

platform::Step FakeFileStore::WriteTo(const std::string& path, const void* bytes, std::size_t size) {
  ++writes;
  if (failWriteWith != 0 && writes == failingWrite) {
    // A failing write may still have put part of its bytes in the file.
    files[path].append(static_cast<const char*>(bytes), size / 2);
    return Fail(failWriteWith);
  }
  files[path].append(static_cast<const char*>(bytes), size);
  return platform::Step::Success();
}

platform::Step FakeFileStore::Flush() {
  if (failFlushWith != 0) return Fail(failFlushWith);
  return platform::Step::Success();
}

platform::Step FakeFileStore::Replace(const std::string& from, const std::string& target) {
  if (failReplaceWith != 0) return Fail(failReplaceWith);
  auto found = files.find(from);
  if (found == files.end()) return Fail(platform::error::kFileNotFound);
  files[target] = found->second;
  files.erase(from);
  return platform::Step::Success();
}

platform::Step FakeFileStore::Delete(const std::string& path) {
  deleted.push_back(path);
  if (files.erase(path) == 0) return Fail(platform::error::kFileNotFound);
  return platform::Step::Success();
}
