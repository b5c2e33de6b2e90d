// For tests only: an installation of the test's own in a temporary folder, with the
// settings that locate it, the system directories pointed into it and the settings load
// forgotten, so that the next env_lookup reads its files. Everything is restored when the
// object goes.
#ifndef QK_TESTS_SUPPORT_ENV_INSTALLATION_H
#define QK_TESTS_SUPPORT_ENV_INSTALLATION_H

#include <memory>
#include <string>
#include <vector>

#include "env/internal/env_testing.h"
#include "platform/testing/profile_testing.h"
#include "tests/support/testsupport.h"

namespace envtest {

class Installation {
 public:
  // The variables named are restored (or removed) at the end; the ones the load reads
  // are removed from the environment at the start.
  explicit Installation(const std::vector<std::string>& variables = {}) {
    root = tmp / "root";
    local = tmp / "local";
    site = tmp / "site";
    system = tmp / "system";
    windows = tmp / "windows";
    for (const std::string& d : {root, root + "/config", local, site, system, windows})
      testsupport::make_dirs(d);
    for (const char* name : {"QK_ROOT", "QK_LOCAL", "QK_SITE", "QK_DEVO", "QK_NAMESPACE"})
      saved_.emplace_back(new testsupport::ScopedEnv(name, nullptr));
    for (const std::string& name : variables)
      saved_.emplace_back(new testsupport::ScopedEnv(name, nullptr));
    testsupport::set_env("QK_ROOT", root.c_str());
    testsupport::set_env("QK_LOCAL", local.c_str());
    platform::testing::set_windows_directory(windows);
    platform::testing::set_system_config_directory(system);
    env_testing_reset();
  }
  ~Installation() {
    platform::testing::set_windows_directory("");
    platform::testing::set_system_config_directory("");
    env_testing_reset();
    while (!saved_.empty()) saved_.pop_back();
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  testsupport::TempDir tmp;
  std::string root, local, site, system, windows;

 private:
  std::vector<std::unique_ptr<testsupport::ScopedEnv>> saved_;
};

}  // namespace envtest

#endif
