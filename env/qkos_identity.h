// Who runs the program and which server it works with: the user's name (the account's, or
// one the program sets) and the server named by the settings. Part of the operating-system
// services of env/qkos.h.
//
//   set_user_name("batch");           // from now on user_name() is "batch"
//   const char* server = server_name(); // "QK_SERVER_NAME", or nullptr
#ifndef QK_ENV_QKOS_IDENTITY_H
#define QK_ENV_QKOS_IDENTITY_H

// The user's name: the name set by set_user_name, else the account's (up to 20
// characters), else "QK_USER". Copied to dest (21 bytes) when given. user_name gives
// nullptr for an empty name; the other two give their (possibly empty) buffer. Each has a
// buffer of its own, overwritten by its next call.
const char* user_name(char* dest = nullptr);
const char* user_name_text(char* dest = nullptr);
const char* login_name(char* dest = nullptr);

// Overrides the user's name with the first 21 characters of name (nullptr: no change).
void set_user_name(const char* name);

// "QK_SERVER_NAME", or nullptr.
const char* server_name();

#endif
