// Signals of the C library (signal, raise), the same on every build.
//
// Threads: the calls may come from any thread; a disposition is the whole process's.
#ifndef QK_PLATFORM_SIGNALS_SIGNALS_H
#define QK_PLATFORM_SIGNALS_SIGNALS_H

namespace platform {

using SignalFunction = void (*)(int);

// signal() with the default action, with "ignore", or with a function.
void signal_default(int sig);
void signal_ignore(int sig);
void signal_install(int sig, SignalFunction function);

// raise(): 0 on success.
int signal_raise_own(int sig);

}  // namespace platform

#endif
