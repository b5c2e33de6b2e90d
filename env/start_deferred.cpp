// Whether the program defers the framework's start-up: not unless it says so.
//
// This file defines nothing else. A program that defines framework_start_deferred itself
// (the launcher, which starts its child first) keeps its own definition, and the linker
// never takes this one from the library.
#include "env/env.h"

extern const bool framework_start_deferred = false;
