// Settings: environment variables, supplied where missing by the installation's QK.env
// files, which the first lookup loads into the process environment.
//
//   const char* root = env_lookup("QK_ROOT", 0);   // nullptr when not set
//   env_lookup("QK_ROOT", 1);                      // fatal (exit 999) when not set
//
// The files are read in this order, and an ordinary assignment never replaces a variable
// that exists already, so the first source wins: the real environment, "QK.env" in
// QK_LOCAL, "config/QK.env" and "QK.env" in QK_ROOT, "QK.env" in QK_SITE, and "QK.env" in
// the system's directory ("C:/"; /etc on POSIX). An assignment written "@NAME=value"
// replaces any value. With QK_NAMESPACE set to P, a lookup of X first tries "P___X", then
// "P:X", then X.
//
// Returned values point into the process environment: do not free them, and copy them
// before the same variable may change.
#ifndef QK_ENV_ENV_H
#define QK_ENV_ENV_H

// The value of the variable, or nullptr. With complain == 1 a missing variable is fatal.
const char* env_lookup(const char* name, short complain);

// env_lookup without complaint; then, failing that, the variable whose name equals name
// ignoring case (the last in the environment's order). Fatal with complain == 1 when
// neither finds one.
const char* env_lookup_nocase(const char* name, short complain);

// Gives "NAME=value" to the environment ("NAME=" removes NAME). 0 on success, else the
// library's non-zero result; with complain == 1 a failure is fatal.
int env_put(const char* assignment, short complain);

// env_put, and any failure is fatal.
int env_put_or_exit(const char* assignment, short complain);

// The variable (which must exist) as a number with a C prefix (0x hexadecimal, 0 octal);
// -1 when its value does not start with a decimal digit.
long env_number(const char* name);

// The installation key from "QK_KEY" plus base: a number ("12", "0x1c") or the first four
// characters packed into 32 bits ("ABCD" is 0x41424344). -1 when QK_KEY is not set.
int env_key(int base, short complain);

// The key that a QK_KEY text gives, before the base is added: a number read with its C
// prefix ("0x" values cut at their tenth character) or the first four characters packed.
// False when the text is a number that does not fit in 32 bits (4294967296 would
// otherwise name the block of key 0). The same on every build.
bool env_key_text(const char* text, unsigned* key);

// A path from the variable name (which must exist): its value when absolute, else under
// QK_ROOT; then a separator and the suffix when given. The result is overwritten by the
// next call.
const char* env_path(const char* name, const char* suffix);

// Reads "QK.env" beside the running program and makes the program's directory the
// current one (telling in a message box when that fails).
void load_program_dir_config();

// A program whose first work must not wait for the framework's start-up (the launcher,
// which starts its child first) defines this true itself, constant-initialised:
//
//   extern const bool framework_start_deferred = true;
//
// Its first settings lookup then loads the QK.env files without taking the user's locale
// (unless a file needs it), and its logger starts at the program's call of startLogger
// (log/logger.h) or at its first level test, not during static initialisation. Every other
// program gets the library's definition, false.
extern const bool framework_start_deferred;

// The start-up work a deferring program left for later: the user's locale for the C
// library. Nothing in any other program. Called by startLogger.
void env_complete_start();

#endif
