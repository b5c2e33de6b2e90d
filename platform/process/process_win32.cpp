// Win32 backend of the process concept: CreateProcessA on the command line as given.
#include "platform/process/process.h"
#include "platform/process/process_exit.h"

#include <windows.h>
#include <process.h>

#include <mutex>

#include "platform/security/win32_security.h"

namespace platform {

namespace {

HANDLE open_for_child(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Every inheritable handle of the process goes to each child made while it is open, so two
// threads starting children at once would hand each other's redirected files to the wrong
// child (and the system's start itself is not safe to run from several threads at once).
// One start at a time, from the opening of the child's handles to their closing.
std::mutex& start_mutex() {
  static std::mutex* m = new std::mutex;  // never destroyed: children start at exit too
  return *m;
}

Child create(const std::string& command_line, const std::string* in, const std::string* out,
             const std::string* err) {
  std::lock_guard<std::mutex> one_start_at_a_time(start_mutex());
  Child child;

  // The child's process attributes: other users may wait for it and query it, no more
  // (see win32_security.h), and a process handle that is not inherited.
  win32::SharedObjectSecurity process_security(win32::SharedKind::process);

  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEFILLATTRIBUTE;
  si.wShowWindow = SW_SHOWNORMAL;

  HANDLE redirected[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  const std::string* paths[3] = {in, out, err};
  if (in || out || err) {
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (int i = 0; i < 3; ++i) {
      if (paths[i] && !paths[i]->empty()) redirected[i] = open_for_child(*paths[i], i != 0);
    }
    if (redirected[0] != INVALID_HANDLE_VALUE) si.hStdInput = redirected[0];
    if (redirected[1] != INVALID_HANDLE_VALUE) si.hStdOutput = redirected[1];
    if (redirected[2] != INVALID_HANDLE_VALUE) si.hStdError = redirected[2];
  }

  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  std::string mutable_line = command_line;  // CreateProcessA may write into it
  BOOL ok = CreateProcessA(nullptr, &mutable_line[0], process_security.attributes(), nullptr, TRUE,
                           NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
  if (!ok) {
    child.error = GetLastError();
  } else {
    child.started = true;
    child.handle = reinterpret_cast<intptr_t>(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  // The child holds its own copies of the redirected handles.
  for (HANDLE h : redirected)
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) SetLastError(static_cast<DWORD>(child.error));
  return child;
}

}  // namespace

Child start_command_line(const std::string& command_line) {
  return create(command_line, nullptr, nullptr, nullptr);
}

void wait_for_exit(intptr_t handle, CommandResult& result) {
  HANDLE process = reinterpret_cast<HANDLE>(handle);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process, &code)) {
    result.exit_known = true;
    result.exit_code = code;
  }
  CloseHandle(process);
}

CommandResult run_command_line_redirected(const std::string& command_line,
                                          const std::string& stdin_path,
                                          const std::string& stdout_path,
                                          const std::string& stderr_path) {
  Child child = create(command_line, &stdin_path, &stdout_path, &stderr_path);
  return wait_for_child(child);
}

unsigned long last_error() { return GetLastError(); }

unsigned long process_id() { return GetCurrentProcessId(); }

bool process_alive(unsigned long pid) {
  if (pid == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process; else not ours to open
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

unsigned long thread_id() { return GetCurrentThreadId(); }

void exit_process_now(int code) { ExitProcess(static_cast<UINT>(code)); }

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

std::string program_path() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return std::string();
  return std::string(buf, n);
}

int spawn_no_wait(const std::string& program_path, const std::string& arg) {
  std::string program = program_path;
  for (char& c : program)
    if (c == '/') c = '\\';
  std::lock_guard<std::mutex> one_start_at_a_time(start_mutex());
  intptr_t rc = arg.empty()
                    ? _spawnlp(_P_NOWAIT, program.c_str(), program.c_str(), nullptr)
                    : _spawnlp(_P_NOWAIT, program.c_str(), program.c_str(), arg.c_str(), nullptr);
  return rc == -1 ? -1 : 0;
}

}  // namespace platform
