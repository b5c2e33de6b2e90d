// Operating-system services of the framework: problem reports, error texts, user and host
// identity, the event log, signals, thin wrappers over a few platform calls, and the
// network helpers (host name and address, the remote-shell client).
//
// Texts returned by these functions live in module-level buffers that the next call of
// the same function overwrites: copy them before calling again.
//
//   report_message("Could not open the settings", 0, 0);   // "\nCould not ..." on stderr
//   report_message("No installation", 1, 0);              // does not return: exit 999
//
// This header includes them all; each concept also has a header of its own, for code that
// uses only it:
//   qkos_report.h    report_message, error_text, system_error_text
//   qkos_identity.h  user_name, user_name_text, login_name, set_user_name, server_name
//   qkos_eventlog.h  event_log_report
//   qkos_signals.h   signal_catch, signal_reset, signal_raise, signal_raise_process
//   qkos_system.h    operating_system_name and the thin wrappers (qk_sleep, qk_chsize,
//                    qk_access, spawn_no_wait, write_utf8_bom)
//   qkos_words.h     quote_where_words, split_words, parse_decimal
//   qkos_net.h       local host name and address, socket addresses, sends and receives,
//                    address and host-name conversions
//   qkos_shell.h     remote_command, the remote-shell client
#ifndef QK_ENV_QKOS_H
#define QK_ENV_QKOS_H

#include "env/qkos_eventlog.h"
#include "env/qkos_identity.h"
#include "env/qkos_net.h"
#include "env/qkos_report.h"
#include "env/qkos_shell.h"
#include "env/qkos_signals.h"
#include "env/qkos_system.h"
#include "env/qkos_words.h"

#endif
