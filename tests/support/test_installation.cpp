// Every test program runs inside an installation: the framework's static initialisation
// reads QK_ROOT and QK_LOCAL before any test starts, and ends the process without them.
// When the caller gives none, a scratch installation in the temporary directory is used;
// without an installation key the logger keeps a private block and writes its records to
// standard error, so test programs share no log files unless a test asks for them.
// This object is initialised before every other module-level object of the program.
#include <filesystem>
#include <string>

#include "platform/environment/environment.h"

namespace {

struct TestInstallation {
  TestInstallation() {
    if (!platform::get_env("QK_KEY")) platform::put_env("QK_LOG_NOKEY=1");
    if (platform::get_env("QK_ROOT") && platform::get_env("QK_LOCAL")) return;
    std::error_code ec;
    std::filesystem::path root = std::filesystem::temp_directory_path(ec) / "qk_test_installation";
    std::filesystem::create_directories(root, ec);
    const std::string dir = root.generic_string();
    if (!platform::get_env("QK_ROOT")) platform::put_env("QK_ROOT=" + dir);
    if (!platform::get_env("QK_LOCAL")) platform::put_env("QK_LOCAL=" + dir);
  }
};

__attribute__((init_priority(101))) TestInstallation installation;

}  // namespace
