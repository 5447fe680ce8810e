// A successful COM initialisation of the calling thread, paired with its
// CoUninitialize. Declared before every interface owner of an operation, it
// ends after them, so every interface is released before COM goes away.
#pragma once

#include "platform/com_object.h"
#include "platform/com_runtime.h"

class ComSession {
 public:
  // Begins with a thread already initialised successfully.
  explicit ComSession(platform::ComRuntime& com) : com_(&com) {}
  ~ComSession() { End(); }
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;

  // CoUninitialize now, once; nothing on later calls. The interfaces of the
  // session must have been released.
  void End() {
    if (com_ != nullptr) {
      com_->CoUninitialize();
      com_ = nullptr;
    }
  }

 private:
  platform::ComRuntime* com_;
};

// The owner of an interface that a step handed out, whatever the step's
// status: an interface left in a failed step's out argument is released too.
template <class Api, class Tag>
platform::ComOwner<Api, Tag> Take(Api& api, const platform::ComOr<platform::ComRef<Tag>>& result) {
  return platform::ComOwner<Api, Tag>(api, result.value);
}
