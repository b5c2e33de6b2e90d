// The remote-shell client: a command run on the server the settings name, as the user.
// Windows Sockets must have been started by the program. Part of the operating-system
// services of env/qkos.h.
//
//   std::ostringstream reply;
//   if (remote_command("ls /data", reply) == 0) ... reply.str()
#ifndef QK_ENV_QKOS_SHELL_H
#define QK_ENV_QKOS_SHELL_H

#include <iosfwd>

// Runs the command on "QK_SERVER_NAME" as user_name through the "shell" service with
// empty input, writing the reply (less its zero bytes) to out. 0, or an error number: 1
// when the server's name does not resolve (at once, with a warning) or the connection is
// refused or fails five times (a socket connected to itself counts as refused); 10060
// when the reply stops for five minutes (the command is never sent twice). Without
// "QK_SERVER_NAME" or a user's name, or when the system does not know the service (no
// services file), it reports that and ends the process with exit code 999.
int remote_command(const char* command, std::ostream& out);

#endif
