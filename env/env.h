// Settings: environment variables, supplied where missing by the installation's QK.env
// files, which the first lookup loads into the process environment.
#ifndef QK_ENV_ENV_H
#define QK_ENV_ENV_H

// The value of the variable, or nullptr. With complain == 1 a missing variable is fatal.
const char* env_lookup(const char* name, short complain);

#endif
