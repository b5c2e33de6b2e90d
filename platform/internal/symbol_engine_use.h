// The process's one symbol engine, as both stack walkers keep it: started by the first
// trace that needs symbols, for good or (after a failed start) never again, and ended with
// its last user when the process exits. Every use of the engine holds mutex().
//
// Threads: any thread may use the engine, one at a time under mutex().
#ifndef QK_PLATFORM_INTERNAL_SYMBOL_ENGINE_USE_H
#define QK_PLATFORM_INTERNAL_SYMBOL_ENGINE_USE_H

#include <mutex>

namespace platform {
namespace internal {

class SymbolEngineUse {
 public:
  // end releases what a successful start made; it runs under the mutex at process exit.
  explicit SymbolEngineUse(void (*end)()) : end_(end) {}
  ~SymbolEngineUse() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ >= 1 && --users_ == 0) end_();
  }
  SymbolEngineUse(const SymbolEngineUse&) = delete;
  SymbolEngineUse& operator=(const SymbolEngineUse&) = delete;

  std::mutex& mutex() { return mutex_; }

  // True when the engine is ready. The first call (under mutex()) starts it with start,
  // a callable answering whether the start succeeded; later calls answer the same.
  template <typename Start>
  bool ready(Start start) {
    if (users_ != 0) return users_ != -1;
    users_ = -1;
    if (!start()) return false;
    users_ = 1;
    return true;
  }

 private:
  std::mutex mutex_;
  // 0: not started, -1: the start failed (for good), 1 or more: ready.
  int users_ = 0;
  void (*end_)();
};

}  // namespace internal
}  // namespace platform

#endif
