// A string table that a test fills in. Each text is handed out the way the
// platform does, without a terminator: the characters after it are those of
// a following entry.
#pragma once

#include <map>
#include <string>

#include "platform/string_resources.h"

class FakeStringResources final : public platform::StringResources {
 public:
  void Set(unsigned id, const std::wstring& text) { storage_[id] = text + L"<following entry>"; lengths_[id] = text.size(); }

  platform::ResourceText Find(unsigned id) override {
    auto it = storage_.find(id);
    if (it == storage_.end()) return platform::ResourceText{};
    return platform::ResourceText{it->second.data(), lengths_[id]};
  }

 private:
  std::map<unsigned, std::wstring> storage_;
  std::map<unsigned, std::size_t> lengths_;
};
