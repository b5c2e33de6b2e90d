// The program name of every program that does not name itself: empty, so that the
// logger's start-up takes the executable's own base name (defaultProgramName).
//
// This file defines nothing else. A program that defines program_name itself (the launcher
// holds "Brimvale") keeps its own definition, and the linker never takes this one from the
// library; constant initialisation makes the name ready before any module's start-up.
#include "log/logger.h"

char program_name[64] = "";
