// What every backend of named locks promises: the lock is recursive for the thread that
// holds it, excludes other threads and other processes, is handed on when its holder dies,
// answers timed_out when a bounded wait ends, releases nothing its caller does not hold,
// and says which call failed on which object. Each of its calls goes through the table of
// system calls.
#include "platform/named_lock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "platform/file_calls.h"
#include "platform/process.h"
#include "platform/syserror.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using platform::LockWait;
using platform::NamedLock;

// --- Children: the lock named by QK_TEST_LOCK_NAME in the folder QK_TEST_LOCK_FOLDER ----------

NamedLock* childLock() {
  return new NamedLock(platform::get_env("QK_TEST_LOCK_NAME"), NamedLock::everyone,
                       platform::get_env("QK_TEST_LOCK_FOLDER"));
}

// Takes the lock and ends without releasing it.
TEST(DISABLED_ChildScenario, LockHolderDies) {
  NamedLock* lock = childLock();
  if (!lock->ok() || lock->wait(NamedLock::forever) != LockWait::acquired) platform::exit_process_now(3);
  platform::exit_process_now(0);
}

// Tries the lock without waiting; the answer is the exit code (0 acquired, 1 abandoned,
// 2 timed out, 3 failed).
TEST(DISABLED_ChildScenario, LockTry) {
  NamedLock* lock = childLock();
  const LockWait waited = lock->wait(0);
  if (waited == LockWait::acquired || waited == LockWait::abandoned) lock->release();
  platform::exit_process_now(static_cast<int>(waited));
}

// Takes the lock, writes its process id into the file QK_TEST_LOCK_PID, holds the lock
// for QK_TEST_LOCK_HOLD_MS milliseconds and releases it.
TEST(DISABLED_ChildScenario, LockHeldAWhile) {
  NamedLock* lock = childLock();
  if (!lock->ok() || lock->wait(NamedLock::forever) != LockWait::acquired) platform::exit_process_now(3);
  if (std::FILE* f = std::fopen(platform::get_env("QK_TEST_LOCK_PID"), "w")) {
    std::fprintf(f, "%lu", platform::process_id());
    std::fclose(f);
  }
  platform::sleep_ms(static_cast<unsigned>(std::atoi(platform::get_env("QK_TEST_LOCK_HOLD_MS"))));
  lock->release();
  platform::exit_process_now(0);
}

class NamedLockContract : public ::testing::Test {
 protected:
  LockWait tryInAnotherProcess() {
    const testsupport::Run r = testsupport::run_child("LockTry", childOptions());
    EXPECT_TRUE(r.started);
    return static_cast<LockWait>(static_cast<unsigned long>(r.exit_code));
  }

  // What a wait without waiting answers in another thread of this process, through a
  // handle of its own.
  LockWait tryInAnotherThread() {
    LockWait waited = LockWait::failed;
    std::thread([&] {
      NamedLock other(name_, NamedLock::everyone, folder_.path());
      waited = other.wait(0);
      if (waited == LockWait::acquired || waited == LockWait::abandoned) other.release();
    }).join();
    return waited;
  }

  // The child's lock: this test's name and folder.
  testsupport::ChildOptions childOptions() const {
    return testsupport::ChildOptions().set("QK_TEST_LOCK_NAME", name_).set("QK_TEST_LOCK_FOLDER", folder_.path());
  }

  testsupport::TempDir folder_;
  // A name of its own for each test, as other test programs run beside this one.
  std::string name_ = testsupport::unique_name("QK_SEMtest");
};

TEST_F(NamedLockContract, IsRecursiveForItsHolderAndFreeAfterTheLastRelease) {
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  ASSERT_TRUE(lock.ok()) << lock.failure().text();
  EXPECT_FALSE(lock.failure().failed());
  ASSERT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
  ASSERT_EQ(LockWait::acquired, lock.wait(0));
  lock.release();
  EXPECT_EQ(LockWait::timed_out, tryInAnotherThread()) << "one release of two frees nothing";
  lock.release();
  EXPECT_EQ(LockWait::acquired, tryInAnotherThread());
}

TEST_F(NamedLockContract, ExcludesAnotherProcessUntilReleased) {
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  ASSERT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
  EXPECT_EQ(LockWait::timed_out, tryInAnotherProcess());
  lock.release();
  EXPECT_EQ(LockWait::acquired, tryInAnotherProcess());
}

TEST_F(NamedLockContract, ALockWhoseHolderDiedIsHandedOn) {
  const testsupport::Run holder = testsupport::run_child("LockHolderDies", childOptions());
  ASSERT_EQ(0u, holder.exit_code) << holder.err;
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  // Windows tells that the holder died; POSIX's kernel releases the lock without a word.
  const LockWait waited = lock.wait(NamedLock::forever);
  EXPECT_TRUE(waited == LockWait::acquired || waited == LockWait::abandoned) << static_cast<int>(waited);
  lock.release();
  EXPECT_EQ(LockWait::acquired, lock.wait(0)) << "handed on once, then an ordinary lock";
  lock.release();
}

TEST_F(NamedLockContract, ABoundedWaitForABusyLockAnswersTimedOut) {
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  ASSERT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
  LockWait immediate = LockWait::failed;
  LockWait bounded = LockWait::failed;
  std::thread([&] {
    NamedLock other(name_, NamedLock::everyone, folder_.path());
    immediate = other.wait(0);
    bounded = other.wait(30);
  }).join();
  EXPECT_EQ(LockWait::timed_out, immediate);
  EXPECT_EQ(LockWait::timed_out, bounded);
  lock.release();
}

// A bounded wait blocks until the lock is free, as an unbounded one does, and ends at
// its bound while another process holds on; the holder is named where the system tells it.
TEST_F(NamedLockContract, ABoundedWaitTakesALockFreedInTimeAndEndsAtItsBound) {
  const std::string pid_file = folder_ / "holder.pid";
  for (const unsigned hold_ms : {400u, 4000u}) {
    std::remove(pid_file.c_str());
    testsupport::Run holder;
    std::thread child([&] {
      holder = testsupport::run_child("LockHeldAWhile", childOptions()
                                                            .set("QK_TEST_LOCK_PID", pid_file)
                                                            .set("QK_TEST_LOCK_HOLD_MS", std::to_string(hold_ms)));
    });
    for (int i = 0; i < 3000 && testsupport::read_file(pid_file).empty(); ++i) platform::sleep_ms(5);
    NamedLock lock(name_, NamedLock::everyone, folder_.path());
    const auto started = std::chrono::steady_clock::now();
    const LockWait waited = lock.wait(1500);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (hold_ms < 1500) {
      EXPECT_EQ(LockWait::acquired, waited);
      lock.release();
    } else {
      EXPECT_EQ(LockWait::timed_out, waited);
      EXPECT_GE(seconds, 1.45);
      EXPECT_LT(seconds, 5.0);
#ifndef _WIN32
      EXPECT_EQ(testsupport::read_file(pid_file), std::to_string(lock.holder()));
#endif
    }
    child.join();
    EXPECT_EQ(0u, holder.exit_code) << holder.err;
  }
}

TEST_F(NamedLockContract, AThreadThatHoldsNothingReleasesNothing) {
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  ASSERT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
  std::thread([&] { lock.release(); }).join();  // the same handle, another thread
  NamedLock unheld(name_, NamedLock::everyone, folder_.path());
  unheld.release();  // a handle that never waited
  EXPECT_EQ(LockWait::timed_out, tryInAnotherThread());
  EXPECT_EQ(LockWait::timed_out, tryInAnotherProcess());
  lock.release();
  EXPECT_EQ(LockWait::acquired, tryInAnotherThread());
}

// --- Failures ---------------------------------------------------------------------------------

platform::LockHandle* refusedOpen(const std::string& name, NamedLock::Access, const std::string&,
                                  platform::SystemError* why) {
  *why = platform::SystemError{ENOSPC, "make " + name, std::string(), false, true};
  return nullptr;
}

LockWait refusedWait(platform::LockHandle*, unsigned long, platform::SystemError* why) {
  *why = platform::SystemError{ENOLCK, "wait for it", std::string(), false, true};
  return LockWait::failed;
}

TEST_F(NamedLockContract, ALockThatCannotBeMadeSaysWhichCallFailedAndWhy) {
  {
    platform::ScopedSystemCalls seam;
    seam.locks().open = refusedOpen;
    NamedLock lock(name_, NamedLock::everyone, folder_.path());
    EXPECT_FALSE(lock.ok());
    EXPECT_EQ(static_cast<unsigned long>(ENOSPC), lock.error());
    EXPECT_EQ("make " + name_ + ": " + platform::c_error_message(ENOSPC), lock.failure().text());
    EXPECT_EQ(LockWait::failed, lock.wait(NamedLock::forever));
    lock.release();  // nothing to release, and no harm done
  }
  // A name no system takes: the backend's own failure names the object.
  const std::string too_long = name_ + std::string(400, 'n');
  NamedLock lock(too_long, NamedLock::everyone, folder_.path());
  EXPECT_FALSE(lock.ok());
  EXPECT_NE(0u, lock.error());
  EXPECT_NE(std::string::npos, lock.failure().text().find(too_long)) << lock.failure().text();
  EXPECT_EQ(LockWait::failed, lock.wait(0));
}

TEST_F(NamedLockContract, AWaitThatFailsSaysWhyToItsThreadAndHoldsNothing) {
  NamedLock lock(name_, NamedLock::everyone, folder_.path());
  ASSERT_TRUE(lock.ok());
  {
    platform::ScopedSystemCalls seam;
    seam.locks().wait = refusedWait;
    EXPECT_EQ(LockWait::failed, lock.wait(NamedLock::forever));
    EXPECT_TRUE(lock.ok());
    EXPECT_EQ(static_cast<unsigned long>(ENOLCK), lock.error());
    EXPECT_EQ(std::string("wait for it: ") + platform::c_error_message(ENOLCK), lock.failure().text());
    bool seen_elsewhere = true;
    std::thread([&] { seen_elsewhere = lock.failure().failed(); }).join();
    EXPECT_FALSE(seen_elsewhere) << "a failed wait is its thread's own";
    lock.release();  // held nothing, releases nothing
  }
  EXPECT_EQ(LockWait::acquired, tryInAnotherThread());
  EXPECT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
  lock.release();
}

// Each call of a NamedLock is one call through the table.
int opens = 0, waits = 0, releases = 0, closes = 0;
platform::LockCalls real_calls;
platform::LockHandle* countedOpen(const std::string& name, NamedLock::Access access, const std::string& folder,
                                  platform::SystemError* why) {
  ++opens;
  return real_calls.open(name, access, folder, why);
}
LockWait countedWait(platform::LockHandle* lock, unsigned long timeout_ms, platform::SystemError* why) {
  ++waits;
  return real_calls.wait(lock, timeout_ms, why);
}
void countedRelease(platform::LockHandle* lock) {
  ++releases;
  real_calls.release(lock);
}
void countedClose(platform::LockHandle* lock) {
  ++closes;
  real_calls.close(lock);
}

TEST_F(NamedLockContract, EveryCallGoesThroughTheTable) {
  platform::ScopedSystemCalls seam;
  real_calls = seam.original().locks;
  seam.locks() = platform::LockCalls{countedOpen, countedWait, countedRelease, countedClose};
  {
    NamedLock lock(name_, NamedLock::everyone, folder_.path());
    ASSERT_EQ(LockWait::acquired, lock.wait(NamedLock::forever));
    ASSERT_EQ(LockWait::acquired, lock.wait(10));
    lock.release();
    lock.release();
  }
  EXPECT_EQ(1, opens);
  EXPECT_EQ(2, waits);
  EXPECT_EQ(2, releases);
  EXPECT_EQ(1, closes);
}

}  // namespace
