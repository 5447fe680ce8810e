#include "support/pointer_vector.h"

#include <algorithm>
#include <new>

namespace SMImplementation {

PointerVector::PointerVector(std::size_t capacity)
    : slots_(new void*[capacity]), count_(0), capacity_(capacity) {}

PointerVector::~PointerVector() { delete[] slots_; }

bool PointerVector::Add(const void* element) {
  if (count_ == capacity_) {
    const std::size_t grown = capacity_ == 0 ? 1 : capacity_ * 2;
    void** slots = new (std::nothrow) void*[grown];
    if (slots == nullptr) return false;
    std::copy(slots_, slots_ + count_, slots);
    delete[] slots_;
    slots_ = slots;
    capacity_ = grown;
  }
  slots_[count_] = CopyElement(element);
  ++count_;
  return true;
}

}  // namespace SMImplementation

namespace DAZA {

StringVector::StringVector() : PointerVector(kInitialCapacity) {}

StringVector::~StringVector() {
  for (std::size_t i = 0; i < Count(); ++i) ReleaseElement(Slots()[i]);
}

void StringVector::ReleaseElement(void* element) { delete static_cast<std::string*>(element); }

void* StringVector::CopyElement(const void* element) {
  return new std::string(*static_cast<const std::string*>(element));
}

void StringVector::Sort(int (*compare)(const std::string&, const std::string&)) {
  void** slots = Slots();
  std::stable_sort(slots, slots + Count(), [compare](void* a, void* b) {
    return compare(*static_cast<const std::string*>(a), *static_cast<const std::string*>(b)) < 0;
  });
}

}  // namespace DAZA
