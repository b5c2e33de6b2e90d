// Signals: one handler slot per signal number, called through a common dispatcher, and
// raising a signal. Part of the operating-system services of env/qkos.h.
//
//   signal_catch(SIGTERM, on_term);   // on_term(SIGTERM) when the signal comes
//   signal_reset(SIGTERM, 1);         // the default action again
#ifndef QK_ENV_QKOS_SIGNALS_H
#define QK_ENV_QKOS_SIGNALS_H

typedef void (*SignalHandler)(int);

// Empties the slot and sets the default action (flag non-zero) or "ignore"; returns the
// slot's former handler.
SignalHandler signal_reset(int sig, int use_default);
// Puts the handler into the slot and the dispatcher on the signal; returns the former
// handler.
SignalHandler signal_catch(int sig, SignalHandler handler);

int signal_raise(int sig);                        // raise() in the own process
int signal_raise_process(int process, int sig);   // the same; the process is ignored

#endif
