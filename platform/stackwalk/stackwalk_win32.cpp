// Stack walking on Windows with the debugging-help library.
//
// A thread cannot read its own registers while it runs, so the caller spins at a lowered
// priority while a short-lived worker thread suspends it, reads its context and resumes
// it; the two hand over through one status word. The walk and the lookups use
// dbghelp.dll, and the module list comes from psapi.dll's EnumProcessModules (or the
// tool-help functions where psapi is missing). All three are looked up at run time, so a
// program runs (with empty traces) where they are absent, and a dbghelp.dll placed beside
// the program is the one used.
#include "platform/stackwalk/stackwalk.h"

#include <windows.h>
// dbghelp.h after windows.h
#include <dbghelp.h>
#include <tlhelp32.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/stackwalk/stackwalk_seam.h"
#include "platform/stackwalk/symbol_engine_use.h"

namespace platform {

namespace {

// The build's walker: StackWalk64 and its lookups for x86-64, StackWalk for i386 (the
// 32-bit names map to the 64-bit functions on a 64-bit build).
#if defined(_WIN64)
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
typedef DWORD64 WalkAddress;
// Unwinding x86-64 frames needs the integer registers as well as the control registers.
constexpr DWORD kContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
// x86-64 code keeps no frame-pointer chain: the walk ends where the unwind data does.
constexpr bool kFramePointerChain = false;
void start_frame(STACKFRAME& frame, const CONTEXT& context) {
  frame.AddrPC.Offset = context.Rip;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrStack.Offset = context.Rsp;
}
#else
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;
typedef DWORD WalkAddress;
constexpr DWORD kContextFlags = CONTEXT_CONTROL;  // 0x10001: Eip, Ebp, Esp and the rest
// On i386 a frame pointer of 0 ends the chain.
constexpr bool kFramePointerChain = true;
void start_frame(STACKFRAME& frame, const CONTEXT& context) {
  frame.AddrPC.Offset = context.Eip;
  frame.AddrFrame.Offset = context.Ebp;
  frame.AddrStack.Offset = context.Esp;
}
#endif

#define QK_EXPORT_NAME(f) QK_EXPORT_NAME_TEXT(f)
#define QK_EXPORT_NAME_TEXT(f) #f

#ifdef NDEBUG
constexpr bool kDebugChecks = false;
#else
constexpr bool kDebugChecks = true;
#endif

// Calls that must not fail are checked in debug builds only; they never change a result.
void debug_check(bool ok, const char* call) {
  if (kDebugChecks && !ok) {
    const std::string text = std::string("Assertion failed: ") + call + "\n";
    OutputDebugStringA(text.c_str());
  }
}

template <class Function>
bool resolve(HMODULE library, const char* name, Function& function) {
  FARPROC address = library ? GetProcAddress(library, name) : nullptr;
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
  return address != nullptr;
}

void report(StackProblemSink problem, const std::string& text) {
  if (problem) problem(text.c_str());
}

// ---- the capture: a worker thread reads the caller's registers

struct TraceRequest {
  CONTEXT context;
  HANDLE thread;          // a real handle of the traced thread
  volatile LONG status;   // -1: not allowed to run yet, or failed; 0: go; 1: captured
};

DWORD WINAPI capture_worker(LPVOID argument) {
  TraceRequest* request = static_cast<TraceRequest*>(argument);
  // The go signal comes within microseconds on a multi-processor machine: the worker yields
  // and only after many empty rounds sleeps (a 20 ms sleep here would cost every trace
  // 20 ms whenever the worker starts on a processor of its own).
  for (int round = 0; InterlockedCompareExchange(&request->status, 0, 0) != 0; ++round)
    if (!SwitchToThread() && round > 10000) Sleep(1);
  if (SuspendThread(request->thread) == static_cast<DWORD>(-1)) {
    InterlockedExchange(&request->status, -1);
    return 0;
  }
  const LONG result = GetThreadContext(request->thread, &request->context) ? 1 : -1;
  debug_check(ResumeThread(request->thread) != static_cast<DWORD>(-1),
              "-1 != ResumeThread(p->thread)");
  InterlockedExchange(&request->status, result);
  return 0;
}

// ---- the symbol engine

struct DbgHelp {
  decltype(&SymGetOptions) get_options = nullptr;
  decltype(&SymSetOptions) set_options = nullptr;
  decltype(&SymInitialize) initialize = nullptr;
  decltype(&SymCleanup) cleanup = nullptr;
  decltype(&SymLoadModule) load_module = nullptr;
  decltype(&StackWalk) stack_walk = nullptr;
  decltype(&SymFunctionTableAccess) function_table_access = nullptr;
  decltype(&SymGetModuleBase) get_module_base = nullptr;
  decltype(&SymGetSymFromAddr) get_sym_from_addr = nullptr;
  decltype(&SymGetLineFromAddr) get_line_from_addr = nullptr;

  bool load(const char* file_name) {
    HMODULE library = LoadLibraryA(file_name);
    return resolve(library, "SymGetOptions", get_options) &&
           resolve(library, "SymSetOptions", set_options) &&
           resolve(library, "SymInitialize", initialize) &&
           resolve(library, "SymCleanup", cleanup) &&
           resolve(library, QK_EXPORT_NAME(SymLoadModule), load_module) &&
           resolve(library, QK_EXPORT_NAME(StackWalk), stack_walk) &&
           resolve(library, QK_EXPORT_NAME(SymFunctionTableAccess), function_table_access) &&
           resolve(library, QK_EXPORT_NAME(SymGetModuleBase), get_module_base) &&
           resolve(library, QK_EXPORT_NAME(SymGetSymFromAddr), get_sym_from_addr) &&
           resolve(library, QK_EXPORT_NAME(SymGetLineFromAddr), get_line_from_addr);
  }
};

DbgHelp dbghelp;

// Inlined calls, where the library tells them (dbghelp 6.2 and later, and Wine's): found
// at the start, and left alone where missing, so that an older library shows the function
// alone.
struct InlineCalls {
  typedef DWORD(WINAPI* IncludeFunction)(HANDLE, DWORD64);
  typedef BOOL(WINAPI* QueryFunction)(HANDLE, DWORD64, DWORD, DWORD64, DWORD64, LPDWORD, LPDWORD);
  typedef BOOL(WINAPI* SymbolFunction)(HANDLE, DWORD64, ULONG, PDWORD64, PSYMBOL_INFO);
  typedef BOOL(WINAPI* LineFunction)(HANDLE, DWORD64, ULONG, DWORD64, PDWORD, PIMAGEHLP_LINE64);
  IncludeFunction include = nullptr;
  QueryFunction query = nullptr;
  SymbolFunction symbol = nullptr;
  LineFunction line = nullptr;
  bool present = false;

  void load(const char* file_name) {
    HMODULE library = GetModuleHandleA(file_name);
    present = resolve(library, "SymAddrIncludeInlineTrace", include) &&
              resolve(library, "SymQueryInlineTrace", query) &&
              resolve(library, "SymFromInlineContext", symbol) &&
              resolve(library, "SymGetLineFromInlineContext", line);
  }
};
InlineCalls inline_calls;
// Cleans up after a start that could not list the modules. The handler of a successful
// start is never cleaned up: a trace may come from a destructor that runs at exit.
void end_symbol_handler();
bool nt_family = true;

bool is_nt_family() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return !GetVersionExA(&version) || version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The symbol functions take the process handle on NT-family systems, its id elsewhere.
HANDLE symbol_process() {
  return nt_family ? GetCurrentProcess()
                   : reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentProcessId()));
}

// Loads one module into the symbol handler by its file. A zero answer with no error
// means the module was there already.
bool load_module(HMODULE module) {
  char name[MAX_PATH + 1] = {0};
  if (!GetModuleFileNameA(module, name, MAX_PATH)) return false;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) file = nullptr;
  SetLastError(0);
  const WalkAddress base = reinterpret_cast<WalkAddress>(module);
  const bool loaded = dbghelp.load_module(symbol_process(), file, name, nullptr, base, 0) != 0 ||
                      GetLastError() == 0;
  if (file) debug_check(CloseHandle(file) != 0, "CloseHandle(hFile)");
  return loaded;
}

typedef BOOL(WINAPI* EnumProcessModulesFunction)(HANDLE, HMODULE*, DWORD, LPDWORD);
typedef HANDLE(WINAPI* SnapshotFunction)(DWORD, DWORD);
typedef BOOL(WINAPI* ModuleWalkFunction)(HANDLE, LPMODULEENTRY32);

// NT family: the module list from psapi.dll. False when it could not be read.
bool load_modules_from_psapi(StackProblemSink problem) {
  HMODULE psapi = LoadLibraryA("psapi.dll");
  if (!psapi) {
    report(problem, "Failed to load library, psapi.dll");
    return false;
  }
  bool listed = false;
  EnumProcessModulesFunction enum_modules = nullptr;
  DWORD needed = 0;
  if (!resolve(psapi, "EnumProcessModules", enum_modules) ||
      !enum_modules(GetCurrentProcess(), nullptr, 0, &needed) || needed == 0) {
    report(problem, "Failed to load or call the function, EnumProcessModules()");
  } else {
    std::string storage(needed + sizeof(HMODULE), '\0');
    HMODULE* modules = reinterpret_cast<HMODULE*>(&storage[0]);
    DWORD filled = 0;
    if (enum_modules(GetCurrentProcess(), modules, needed, &filled)) {
      listed = true;
      const DWORD count = (filled < needed ? filled : needed) / sizeof(HMODULE);
      for (DWORD i = 0; i < count; ++i)
        if (!load_module(modules[i])) report(problem, "The function, load_module(), failed");
    }
  }
  debug_check(FreeLibrary(psapi) != 0, "FreeLibrary(hInst)");
  return listed;
}

// Other systems, and NT without psapi: the tool-help module snapshot.
bool load_modules_from_toolhelp() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  SnapshotFunction snapshot = nullptr;
  ModuleWalkFunction first = nullptr;
  ModuleWalkFunction next = nullptr;
  if (!resolve(kernel, "CreateToolhelp32Snapshot", snapshot) ||
      !resolve(kernel, "Module32First", first) || !resolve(kernel, "Module32Next", next))
    return false;
  HANDLE modules = snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (modules == INVALID_HANDLE_VALUE) return false;
  MODULEENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  const bool listed = first(modules, &entry) != 0;
  if (listed) {
    do {
      load_module(entry.hModule);
    } while (next(modules, &entry));
  }
  debug_check(CloseHandle(modules) != 0, "CloseHandle(hModSnap)");
  return listed;
}

bool start_engine(StackProblemSink problem) {
  nt_family = is_nt_family();
  const char* library = testing::symbol_library("dbghelp.dll");
  if (!dbghelp.load(library)) {
    report(problem, std::string("Failed to load library, ") + library);
    return false;
  }
  inline_calls.load(library);
  dbghelp.set_options(dbghelp.get_options() | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
  if (!dbghelp.initialize(symbol_process(), nullptr, TRUE)) {
    report(problem, "The function, SymInitialize(), failed");
    return false;
  }
  const bool listed = (nt_family && load_modules_from_psapi(problem)) || load_modules_from_toolhelp();
  if (!listed) {
    end_symbol_handler();
    return false;
  }
  return true;
}

void end_symbol_handler() {
  debug_check(dbghelp.cleanup(symbol_process()) != 0, "SymCleanup(SymGetProcessHandle())");
}

bool engine_ready(StackProblemSink problem) {
  return internal::SymbolEngineUse::instance().ready([problem] { return start_engine(problem); });
}

// Reads the walked thread's stack and code. The memory is this process's own, so it is
// copied directly once it is known to be readable (ReadProcessMemory would cost a round
// trip to the system for every word on some systems).
BOOL CALLBACK read_own_memory(HANDLE, WalkAddress address, PVOID buffer, DWORD size, LPDWORD read) {
  const void* from = reinterpret_cast<const void*>(static_cast<ULONG_PTR>(address));
  if (size == 0 || IsBadReadPtr(from, size)) {
    if (read) *read = 0;
    return FALSE;
  }
  std::memcpy(buffer, from, size);
  if (read) *read = size;
  return TRUE;
}

// Walks a context (which the walk changes), leaving out the first own_frames frames.
int walk(CONTEXT& context, StackAddress* frames, int max, int own_frames, StackProblemSink problem) {
  std::lock_guard<std::mutex> lock(internal::SymbolEngineUse::instance().mutex());
  if (!engine_ready(problem)) return -1;
  STACKFRAME frame;
  std::memset(&frame, 0, sizeof frame);
  start_frame(frame, context);
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;
  const HANDLE process = symbol_process();
  int count = 0;
  for (int step = 0; count < max; ++step) {
    SetLastError(0);
    if (!dbghelp.stack_walk(kMachine, process, GetCurrentThread(), &frame, &context, read_own_memory,
                            dbghelp.function_table_access, dbghelp.get_module_base, nullptr) ||
        frame.AddrPC.Offset == 0 || (kFramePointerChain && frame.AddrFrame.Offset == 0))
      break;
    if (dbghelp.get_module_base(process, frame.AddrPC.Offset) == 0) {
      report(problem, "The address returned from StackWalk() is invalid: GetLastError() = " +
                          std::to_string(GetLastError()));
      break;
    }
    if (own_frames > 0) {
      --own_frames;
      continue;
    }
    frames[count].address = static_cast<std::uintptr_t>(frame.AddrPC.Offset);
    frames[count].return_address = step > 0;
    ++count;
  }
  return count;
}

// The inlined calls at an address, innermost first, ahead of the function that holds them
// (function, which then stands at the line of the outermost call).
void add_inlined_calls(HANDLE process, WalkAddress address, long step_back, SymbolFrame& function,
                       std::vector<SymbolFrame>& out) {
  if (!inline_calls.present) return;
  const DWORD64 at = static_cast<DWORD64>(address);
  const DWORD count = inline_calls.include(process, at);
  DWORD context = 0;
  DWORD index = 0;
  if (count == 0 || !inline_calls.query(process, at, 0, at, at, &context, &index)) return;
  // Each inlined call, then the function, has a context of its own, one after the other.
  for (DWORD i = 0; i <= count; ++i) {
    SymbolFrame& frame = i < count ? *out.insert(out.end(), function) : function;
    IMAGEHLP_LINE64 line;
    std::memset(&line, 0, sizeof line);
    line.SizeOfStruct = sizeof line;
    DWORD line_displacement = 0;
    if (inline_calls.line(process, at, context + i, 0, &line_displacement, &line)) {
      frame.file = line.FileName ? line.FileName : "";
      frame.line = static_cast<int>(line.LineNumber);
      frame.line_displacement = static_cast<long>(line_displacement) + step_back;
    }
    if (i == count) break;
    union {
      SYMBOL_INFO record;
      char bytes[sizeof(SYMBOL_INFO) + 488];
    } symbol;
    std::memset(&symbol, 0, sizeof symbol);
    symbol.record.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.record.MaxNameLen = 488;
    DWORD64 displacement = 0;
    frame.function = inline_calls.symbol(process, at, context + i, &displacement, &symbol.record)
                         ? symbol.record.Name
                         : "";
  }
}

}  // namespace

int capture_stack(StackAddress* frames, int max, StackProblemSink problem) {
  if (!frames || max <= 0) return 0;
  HANDLE self = nullptr;
  const BOOL duplicated = DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                          &self, 0, FALSE, DUPLICATE_SAME_ACCESS);
  if (!duplicated) {
    report(problem, "DuplicateHandle() failed: r = " + std::to_string(duplicated) +
                        ", GetLastError() = " + std::to_string(GetLastError()));
    return -1;
  }
  if (!self) {
    report(problem, "DuplicateHandle() failed: returning handle is NULL");
    return -1;
  }
  TraceRequest request;
  std::memset(&request, 0, sizeof request);
  request.context.ContextFlags = kContextFlags;
  request.thread = self;
  request.status = -1;
  HANDLE worker = CreateThread(nullptr, 0, capture_worker, &request, CREATE_SUSPENDED, nullptr);
  if (!worker) {
    report(problem, "CreateThread() failed: returning value is NULL");
  } else {
    const HANDLE current = GetCurrentThread();
    const int priority = GetThreadPriority(current);
    debug_check(SetThreadPriority(worker, THREAD_PRIORITY_ABOVE_NORMAL) != 0,
                "SetThreadPriority( worker, (2-1))");
    debug_check(SetThreadPriority(current, THREAD_PRIORITY_BELOW_NORMAL) != 0,
                "SetThreadPriority( hCurrThread, -1 )");
    if (ResumeThread(worker) == static_cast<DWORD>(-1)) {
      const DWORD error = GetLastError();
      debug_check(TerminateThread(worker, 0) != 0, "TerminateThread(worker, 0)");
      report(problem, "ResumeThread() failed: GetLastError() = " + std::to_string(error));
    } else {
      // The worker reads this thread's registers while it spins here.
      InterlockedExchange(&request.status, 0);
      while (InterlockedCompareExchange(&request.status, 0, 0) == 0) {
      }
    }
    debug_check(SetThreadPriority(current, priority) != 0,
                "SetThreadPriority( hCurrThread, currThreadPrio )");
    debug_check(CloseHandle(worker) != 0, "CloseHandle(worker)");
  }
  debug_check(CloseHandle(self) != 0, "CloseHandle(ctx.thread)");
  if (request.status == -1) {
    report(problem, "Worker thread failed");
    return -1;
  }
  // The context was read inside this function: its frame is not the caller's to see.
  return walk(request.context, frames, max, 1, problem);
}

int capture_stack_from_context(const void* context, StackAddress* frames, int max,
                               StackProblemSink problem) {
  if (!context || !frames || max <= 0) return -1;
  if (IsBadReadPtr(context, sizeof(CONTEXT))) return -1;
  CONTEXT copy;
  std::memcpy(&copy, context, sizeof copy);
  return walk(copy, frames, max, 0, problem);
}

bool lookup_symbols(const StackAddress& frame, std::vector<SymbolFrame>& out,
                    StackProblemSink problem) {
  std::lock_guard<std::mutex> lock(internal::SymbolEngineUse::instance().mutex());
  if (!engine_ready(problem)) return false;
  const HANDLE process = symbol_process();
  // A return address is looked up from the call instruction's last byte.
  const long step_back = frame.return_address ? 1 : 0;
  const WalkAddress address = static_cast<WalkAddress>(frame.address - step_back);
  SymbolFrame symbols;

  // The function: a symbol record with room for 488 name characters.
  union {
    IMAGEHLP_SYMBOL record;
    char bytes[sizeof(IMAGEHLP_SYMBOL) + 488];
  } symbol;
  std::memset(&symbol, 0, sizeof symbol);
  symbol.record.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL);
  symbol.record.MaxNameLength = 488;
  WalkAddress symbol_displacement = 0;
  long furthest_back = 99;
  WalkAddress function_start = 0;
  if (dbghelp.get_sym_from_addr(process, address, &symbol_displacement, &symbol.record)) {
    function_start = address - symbol_displacement;
    symbols.function = symbol.record.Name;
    symbols.symbol_displacement = static_cast<long>(symbol_displacement) + step_back;
    // Stepping back never leaves the function: the line before its start is another's.
    if (static_cast<long>(symbol_displacement) < furthest_back)
      furthest_back = static_cast<long>(symbol_displacement);
  }
  // The line: at the address, else up to 99 bytes before it.
  IMAGEHLP_LINE line;
  std::memset(&line, 0, sizeof line);
  line.SizeOfStruct = sizeof line;
  for (long back = 0; back <= furthest_back; ++back) {
    DWORD displacement = 0;
    // A line that starts before the function belongs to other code: the function has
    // no line data of its own.
    if (dbghelp.get_line_from_addr(process, address - back, &displacement, &line) &&
        line.Address >= function_start) {
      symbols.file = line.FileName ? line.FileName : "";
      symbols.line = static_cast<int>(line.LineNumber);
      symbols.line_displacement = (back == 0 ? static_cast<long>(displacement) : back) + step_back;
      break;
    }
  }
  // The module: its file name.
  if (const WalkAddress base = dbghelp.get_module_base(process, address)) {
    char name[512] = {0};
    if (GetModuleFileNameA(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(base)), name, sizeof name - 1))
      symbols.module = name;
  }
  add_inlined_calls(process, address, step_back, symbols, out);
  out.push_back(symbols);
  return true;
}

}  // namespace platform
