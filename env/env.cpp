// Placeholder lookup straight from the environment, until the configuration load exists.
#include "env/env.h"

#include "platform/environment.h"

const char* env_lookup(const char* name, short) { return platform::get_env(name); }
