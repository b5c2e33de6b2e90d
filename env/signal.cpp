// Signal handlers kept one per signal number and called through one dispatcher.
#include "env/qkos_signals.h"

#include "platform/signals/signals.h"

namespace {

const int kSlots = 65;  // signal numbers 0 to 64
SignalHandler slots[kSlots];

bool valid(int sig) { return sig > 0 && sig < kSlots; }

void dispatch(int sig) {
  if (valid(sig) && slots[sig]) slots[sig](sig);
}

}  // namespace

SignalHandler signal_reset(int sig, int use_default) {
  if (!valid(sig)) return nullptr;
  SignalHandler former = slots[sig];
  slots[sig] = nullptr;
  if (use_default)
    platform::signal_default(sig);
  else
    platform::signal_ignore(sig);
  return former;
}

SignalHandler signal_catch(int sig, SignalHandler handler) {
  if (!valid(sig)) return nullptr;
  SignalHandler former = slots[sig];
  slots[sig] = handler;
  platform::signal_install(sig, dispatch);
  return former;
}

int signal_raise(int sig) { return platform::signal_raise_own(sig); }

int signal_raise_process(int, int sig) { return platform::signal_raise_own(sig); }
