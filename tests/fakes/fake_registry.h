// An in-memory registry that records every step it is asked for and fails the
// steps a test scripts to fail.
//
// It keeps the rules of the real registry that the core could trip over:
// names compare without regard to ASCII case; a handle from OpenKey(kRead)
// may only query and one from CreateKey or OpenKey(kSetValue) may only set
// and delete; a query whose value does not fit fails with kMoreData. A failed
// query scribbles over the caller's buffer, because the platform leaves it
// undefined, so code that reads it anyway shows up. Surprises fail the test:
// a handle that is not open, and keys still open when the fake goes away.
// Keys stand alone: creating one does not make the keys above it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/registry.h"

class FakeRegistry final : public platform::Registry {
 public:
  struct Value {
    std::uint32_t type = platform::registry_type::kNone;
    std::string bytes;
  };

  ~FakeRegistry() override {
    if (!open_.empty()) ADD_FAILURE() << open_.size() << " registry key(s) left open";
  }

  // The next call of `step` ("RegOpenKeyExW", "RegCreateKeyExW",
  // "RegQueryValueExW", "RegSetValueExW", "RegDeleteValueW", "RegCloseKey")
  // fails with `error` and changes nothing. With `target`, only a call on
  // that key (open, create) or value (query, set, delete) counts.
  void FailNext(const std::string& step, platform::ErrorNumber error, const std::wstring& target = L"") {
    failures_.push_back(Failure{step, Fold(target), !target.empty(), error});
  }

  // Test set-up and inspection, outside the recorded steps.
  void Plant(const std::wstring& subkey, const std::wstring& name, std::uint32_t type, const std::string& bytes) {
    keys_[Fold(subkey)][Fold(name)] = Value{type, bytes};
  }
  void PlantKey(const std::wstring& subkey) { keys_[Fold(subkey)]; }
  std::optional<Value> Stored(const std::wstring& subkey, const std::wstring& name) const {
    const auto key = keys_.find(Fold(subkey));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.find(Fold(name));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
  }
  bool HasKey(const std::wstring& subkey) const { return keys_.count(Fold(subkey)) != 0; }
  std::size_t OpenKeys() const { return open_.size(); }

  // Every step asked for, in order, written like the call:
  // "RegOpenKeyExW(SOFTWARE\Kestrania\VexelPlayer, KEY_READ)",
  // "RegQueryValueExW(LastUpdateCheck, 8)", "RegSetValueExW(CheckFrequency,
  // 4, 4)" (type, size), "RegDeleteValueW(UpdateAttempts)", "RegCloseKey".
  std::vector<std::string> calls;

  platform::StepOr<platform::RegistryKeyHandle> OpenKey(const std::wstring& subkey,
                                                        platform::RegistryAccess access) override {
    calls.push_back("RegOpenKeyExW(" + Narrow(subkey) + ", " +
                    (access == platform::RegistryAccess::kRead ? "KEY_READ" : "KEY_SET_VALUE") + ")");
    if (auto e = Scripted("RegOpenKeyExW", subkey)) return FailWith<platform::RegistryKeyHandle>(*e);
    if (!HasKey(subkey)) return FailWith<platform::RegistryKeyHandle>(platform::error::kFileNotFound);
    return platform::StepOr<platform::RegistryKeyHandle>::Success(Register(subkey, access));
  }

  platform::StepOr<platform::RegistryKeyHandle> CreateKey(const std::wstring& subkey) override {
    calls.push_back("RegCreateKeyExW(" + Narrow(subkey) + ")");
    if (auto e = Scripted("RegCreateKeyExW", subkey)) return FailWith<platform::RegistryKeyHandle>(*e);
    PlantKey(subkey);
    return platform::StepOr<platform::RegistryKeyHandle>::Success(
        Register(subkey, platform::RegistryAccess::kSetValue));
  }

  platform::StepOr<platform::QueriedValue> QueryValue(platform::RegistryKeyHandle key, const std::wstring& name,
                                                      void* buffer, std::uint32_t size) override {
    calls.push_back("RegQueryValueExW(" + Narrow(name) + ", " + std::to_string(size) + ")");
    const auto fail = [&](platform::ErrorNumber e) {
      if (buffer != nullptr) std::memset(buffer, 0xCD, size);
      return FailWith<platform::QueriedValue>(e);
    };
    const OpenEntry* entry = Find(key);
    if (entry == nullptr) return fail(platform::error::kInvalidHandle);
    if (auto e = Scripted("RegQueryValueExW", name)) return fail(*e);
    if (entry->access != platform::RegistryAccess::kRead) return fail(platform::error::kAccessDenied);
    const std::optional<Value> value = Stored(entry->subkey, name);
    if (!value) return fail(platform::error::kFileNotFound);
    if (value->bytes.size() > size) return fail(platform::error::kMoreData);
    if (!value->bytes.empty()) std::memcpy(buffer, value->bytes.data(), value->bytes.size());
    return platform::StepOr<platform::QueriedValue>::Success(
        platform::QueriedValue{value->type, static_cast<std::uint32_t>(value->bytes.size())});
  }

  platform::Step SetValue(platform::RegistryKeyHandle key, const std::wstring& name, std::uint32_t type,
                          const void* data, std::uint32_t size) override {
    calls.push_back("RegSetValueExW(" + Narrow(name) + ", " + std::to_string(type) + ", " + std::to_string(size) + ")");
    const OpenEntry* entry = Find(key);
    if (entry == nullptr) return Fail(platform::error::kInvalidHandle);
    if (auto e = Scripted("RegSetValueExW", name)) return Fail(*e);
    if (entry->access != platform::RegistryAccess::kSetValue) return Fail(platform::error::kAccessDenied);
    Plant(entry->subkey, name, type, std::string(static_cast<const char*>(data), size));
    return platform::Step::Success();
  }

  platform::Step DeleteValue(platform::RegistryKeyHandle key, const std::wstring& name) override {
    calls.push_back("RegDeleteValueW(" + Narrow(name) + ")");
    const OpenEntry* entry = Find(key);
    if (entry == nullptr) return Fail(platform::error::kInvalidHandle);
    if (auto e = Scripted("RegDeleteValueW", name)) return Fail(*e);
    if (entry->access != platform::RegistryAccess::kSetValue) return Fail(platform::error::kAccessDenied);
    auto& values = keys_[Fold(entry->subkey)];
    if (values.erase(Fold(name)) == 0) return Fail(platform::error::kFileNotFound);
    return platform::Step::Success();
  }

  // A scripted failure of RegCloseKey still gives the handle back.
  platform::Step CloseKey(platform::RegistryKeyHandle key) override {
    calls.push_back("RegCloseKey");
    if (open_.erase(key) == 0) {
      ADD_FAILURE() << "RegCloseKey of a handle that is not open";
      return Fail(platform::error::kInvalidHandle);
    }
    if (auto e = Scripted("RegCloseKey", L"")) return Fail(*e);
    return platform::Step::Success();
  }

 private:
  struct OpenEntry {
    std::wstring subkey;
    platform::RegistryAccess access;
  };
  struct Failure {
    std::string step;
    std::wstring target;
    bool hasTarget;
    platform::ErrorNumber error;
  };

  static std::wstring Fold(std::wstring s) {
    for (wchar_t& c : s) {
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    while (!s.empty() && s.back() == L'\\') s.pop_back();
    return s;
  }
  static std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
  }
  static platform::Step Fail(platform::ErrorNumber e) {
    platform::SetLastError(e);
    return platform::Step::Failure(e);
  }
  template <class T>
  static platform::StepOr<T> FailWith(platform::ErrorNumber e) {
    platform::SetLastError(e);
    return platform::StepOr<T>::Failure(e);
  }

  std::optional<platform::ErrorNumber> Scripted(const std::string& step, const std::wstring& target) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
      if (it->step == step && (!it->hasTarget || it->target == Fold(target))) {
        const platform::ErrorNumber e = it->error;
        failures_.erase(it);
        return e;
      }
    }
    return std::nullopt;
  }
  platform::RegistryKeyHandle Register(const std::wstring& subkey, platform::RegistryAccess access) {
    const platform::RegistryKeyHandle handle = next_++;
    open_[handle] = OpenEntry{subkey, access};
    return handle;
  }
  const OpenEntry* Find(platform::RegistryKeyHandle key) {
    const auto it = open_.find(key);
    if (it == open_.end()) {
      ADD_FAILURE() << "registry step on a handle that is not open";
      return nullptr;
    }
    return &it->second;
  }

  std::map<std::wstring, std::map<std::wstring, Value>> keys_;
  std::map<platform::RegistryKeyHandle, OpenEntry> open_;
  std::vector<Failure> failures_;
  platform::RegistryKeyHandle next_ = 0x100;
};
