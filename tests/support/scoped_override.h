// Swaps a value (a function pointer of a test seam, a setting) for the life of the object
// and puts the old one back when it goes, also when the value lies behind a setter that
// returns the value it replaces:
//   testsupport::ScopedOverride<decltype(logimpl::clock)> fixed(logimpl::clock, fixedClock);
//   testsupport::ScopedOverride<platform::StackTextSource> none(platform::set_stack_text_source, nullptr);
#ifndef QK_TESTS_SUPPORT_SCOPED_OVERRIDE_H
#define QK_TESTS_SUPPORT_SCOPED_OVERRIDE_H

#include <utility>

namespace testsupport {

template <typename T>
class ScopedOverride {
 public:
  ScopedOverride(T& slot, T value) : slot_(&slot), saved_(std::move(slot)) { *slot_ = std::move(value); }
  ScopedOverride(T (*set)(T), T value) : set_(set), saved_(set(std::move(value))) {}
  ~ScopedOverride() {
    if (slot_)
      *slot_ = std::move(saved_);
    else
      set_(std::move(saved_));
  }
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

 private:
  T* slot_ = nullptr;
  T (*set_)(T) = nullptr;
  T saved_;
};

}  // namespace testsupport

#endif
