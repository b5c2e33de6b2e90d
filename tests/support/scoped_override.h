// Swaps a value (a function pointer of a test seam, a setting) for the life of the object
// and puts the old one back when it goes:
//   testsupport::ScopedOverride<decltype(logimpl::clock)> fixed(logimpl::clock, fixedClock);
#ifndef QK_TESTS_SUPPORT_SCOPED_OVERRIDE_H
#define QK_TESTS_SUPPORT_SCOPED_OVERRIDE_H

#include <utility>

namespace testsupport {

template <typename T>
class ScopedOverride {
 public:
  ScopedOverride(T& slot, T value) : slot_(slot), saved_(std::move(slot)) { slot_ = std::move(value); }
  ~ScopedOverride() { slot_ = std::move(saved_); }
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

 private:
  T& slot_;
  T saved_;
};

}  // namespace testsupport

#endif
