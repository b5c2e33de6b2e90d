#include "tests/support/testsupport.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/environment/environment.h"
#include "platform/process/process.h"

namespace fs = std::filesystem;

namespace testsupport {

std::string unique_name(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(platform::process_id()) + "_" + std::to_string(counter++);
}

TempDir::TempDir() {
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path p = base / unique_name("qk_test_");
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.generic_string();
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

void make_dirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
}

void set_env(const std::string& name, const char* value) {
  platform::put_env(name + "=" + (value ? value : ""));
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  if (const char* old = platform::get_env(name.c_str())) {
    had_ = true;
    old_ = old;
  }
  set_env(name, value);
}

ScopedEnv::~ScopedEnv() { set_env(name_, had_ ? old_.c_str() : nullptr); }

// Wine now and then refuses to create a process while many start at once, with
// ERROR_INTERNAL_ERROR; such a child never ran, so it is started again (twice at most).
// Every other failure to start is the test's to see.
constexpr unsigned long kEmulatorRefusedTheStart = 1359;

Run run(const std::string& command_line, const std::string& stdin_text) {
  TempDir dir;
  std::string in = dir / "in", out = dir / "out", err = dir / "err";
  write_file(in, stdin_text);
  platform::CommandResult r = platform::run_command_line_redirected(command_line, in, out, err);
  for (int again = 0; again < 2 && !r.started && r.error == kEmulatorRefusedTheStart; ++again) {
    platform::sleep_ms(50);
    r = platform::run_command_line_redirected(command_line, in, out, err);
  }
  Run result;
  result.started = r.started;
  result.out = read_file(out);
  result.err = read_file(err);
  result.exit_code = ExitCode(r.started ? r.exit_code : r.error, result.err);
  return result;
}

void PrintTo(const ExitCode& code, std::ostream* out) {
  *out << static_cast<unsigned long>(code);
  if (code.err().empty()) {
    *out << " (nothing on standard error)";
    return;
  }
  // The end of a long text, where a fatal message stands.
  const std::size_t keep = 4000;
  const std::string& err = code.err();
  *out << " with standard error:\n"
       << (err.size() > keep ? "[...]" + err.substr(err.size() - keep) : err);
}

std::string unix_lines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

std::string quote_arg(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') {
      q.append(slashes * 2 + 1, '\\');
    } else {
      q.append(slashes, '\\');
    }
    slashes = 0;
    q.push_back(c);
  }
  q.append(slashes * 2, '\\');
  q.push_back('"');
  return q;
}

std::string program_dir() {
  return fs::path(platform::program_path()).parent_path().generic_string();
}

std::string sibling_program(const std::string& name) {
#ifdef _WIN32
  return program_dir() + "/" + name + ".exe";
#else
  return program_dir() + "/" + name;
#endif
}

Run run_sibling(const std::string& name, const std::vector<std::string>& args) {
  std::string line = quote_arg(sibling_program(name));
  for (const auto& a : args) line += " " + quote_arg(a);
  Run r = run(line);
  r.out = unix_lines(r.out);
  r.err = unix_lines(r.err);
  return r;
}

unsigned long process_id() { return platform::process_id(); }

int observed_exit_code(int code) {
#ifdef _WIN32
  return code;
#else
  return code & 0xFF;
#endif
}

}  // namespace testsupport
