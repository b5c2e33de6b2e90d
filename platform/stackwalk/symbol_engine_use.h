// The process's one symbol engine, as both stack walkers keep it: started by the first
// trace that needs symbols, for good or (after a failed start) never again. Every use of
// the engine holds mutex().
//
// The engine is never ended: a destructor that runs at exit may trace after every
// module-level object is gone, and the system frees the engine with the process. Get it
// with SymbolEngineUse::instance(), which makes it on first use and never destroys it.
//
// Threads: any thread may use the engine, one at a time under mutex().
#ifndef QK_PLATFORM_STACKWALK_SYMBOL_ENGINE_USE_H
#define QK_PLATFORM_STACKWALK_SYMBOL_ENGINE_USE_H

#include <mutex>

namespace platform {
namespace internal {

class SymbolEngineUse {
 public:
  static SymbolEngineUse& instance() {
    static SymbolEngineUse* const engine = new SymbolEngineUse;
    return *engine;
  }
  SymbolEngineUse(const SymbolEngineUse&) = delete;
  SymbolEngineUse& operator=(const SymbolEngineUse&) = delete;

  std::mutex& mutex() { return mutex_; }

  // True when the engine is ready. The first call (under mutex()) starts it with start,
  // a callable answering whether the start succeeded; later calls answer the same.
  template <typename Start>
  bool ready(Start start) {
    if (state_ != 0) return state_ == 1;
    state_ = -1;
    if (!start()) return false;
    state_ = 1;
    return true;
  }

 private:
  SymbolEngineUse() = default;

  std::mutex mutex_;
  // 0: not started, -1: the start failed (for good), 1: ready.
  int state_ = 0;
};

}  // namespace internal
}  // namespace platform

#endif
