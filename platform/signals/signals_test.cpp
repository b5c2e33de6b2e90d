// Signals: an installed function runs on raise, and ignore and default put it aside.
#include "platform/signals/signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {
volatile std::sig_atomic_t seen = 0;
void note(int sig) { seen = sig; }
}  // namespace

TEST(Signals, InstalledFunctionRunsAndIgnoreSetsItAside) {
  seen = 0;
  platform::signal_install(SIGINT, note);
  EXPECT_EQ(0, platform::signal_raise_own(SIGINT));
  EXPECT_EQ(SIGINT, seen);
  seen = 0;
  platform::signal_ignore(SIGINT);
  EXPECT_EQ(0, platform::signal_raise_own(SIGINT));
  EXPECT_EQ(0, seen);
  platform::signal_default(SIGINT);
}
