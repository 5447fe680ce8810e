// An owning vector of element pointers, and its narrow-string kind.
#pragma once

#include <cstddef>
#include <string>

namespace SMImplementation {

// A growable array of pointers to elements it owns. What an element is, how
// it is copied and freed, is the derived class's business.
class PointerVector {
 public:
  // Frees the slot array, not the elements: a derived class releases them
  // in its own destructor, through ReleaseElement.
  virtual ~PointerVector();
  PointerVector(const PointerVector&) = delete;
  PointerVector& operator=(const PointerVector&) = delete;

  // Frees one element.
  virtual void ReleaseElement(void* element) = 0;
  // A new owned copy of an element. Running out of memory throws
  // std::bad_alloc.
  virtual void* CopyElement(const void* element) = 0;

  // Stores a copy of `element` at the end; the caller keeps its own. When
  // the array is full its capacity doubles first; if that memory cannot be
  // had the capacity stays, nothing is stored and the result is false.
  bool Add(const void* element);

  std::size_t Count() const { return count_; }
  std::size_t Capacity() const { return capacity_; }
  const void* At(std::size_t index) const { return slots_[index]; }

 protected:
  // An empty vector with room for `capacity` elements; throws
  // std::bad_alloc when that room cannot be had.
  explicit PointerVector(std::size_t capacity);
  void** Slots() { return slots_; }

 private:
  void** slots_;
  std::size_t count_;
  std::size_t capacity_;
};

}  // namespace SMImplementation

namespace DAZA {

// Narrow strings, each held on the heap by the vector.
class StringVector final : public SMImplementation::PointerVector {
 public:
  static constexpr std::size_t kInitialCapacity = 10;

  StringVector();
  // Releases every string, then (in the base) the slot array.
  ~StringVector() override;

  void ReleaseElement(void* element) override;
  void* CopyElement(const void* element) override;

  bool Add(const std::string& text) { return PointerVector::Add(&text); }
  const std::string& operator[](std::size_t index) const { return *static_cast<const std::string*>(At(index)); }

  // Puts the strings in ascending order of `compare` (negative: the first
  // argument sorts first); strings that compare equal keep their order.
  void Sort(int (*compare)(const std::string&, const std::string&));
};

}  // namespace DAZA
