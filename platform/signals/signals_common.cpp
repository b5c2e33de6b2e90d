// The signal concept: the C library's calls, the same on every build.
#include "platform/signals/signals.h"

#include <signal.h>

namespace platform {

void signal_default(int sig) { signal(sig, SIG_DFL); }
void signal_ignore(int sig) { signal(sig, SIG_IGN); }
void signal_install(int sig, SignalFunction function) { signal(sig, function); }
int signal_raise_own(int sig) { return raise(sig); }

}  // namespace platform
