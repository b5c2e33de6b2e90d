// For tests only: forget that the configuration was loaded and the namespace determined,
// so that the next env_lookup loads the files again.
#ifndef QK_ENV_INTERNAL_ENV_TESTING_H
#define QK_ENV_INTERNAL_ENV_TESTING_H

void env_testing_reset();

#endif
