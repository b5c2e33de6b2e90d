// Stack walking on POSIX. The calling thread unwinds itself with the C++ runtime's
// unwinder (the one exceptions use, driven by the .eh_frame tables that every build
// keeps); a context the caller holds is unwound by libdw from its registers. Function,
// source file, line and module come from the DWARF data through libdw.
//
// Inlined code: an address inside an inlined call gives one frame per inlined call,
// innermost first, then the function that holds the code, as addr2line -i reports them.
// Each frame names the function its line belongs to; the frame of the function (or inlined
// call) that a call was inlined into carries the line of the call. The callers come from
// the enclosing scopes of the inlined call's own DIE in the code that holds it.
#include "platform/stackwalk/stackwalk.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/stackwalk/stackwalk_seam.h"
#include "platform/stackwalk/symbol_engine_use.h"

namespace platform {

namespace {

// ---- capture of the calling thread

struct Collected {
  StackAddress* frames;
  int max;
  int count;
  int own_frames;  // frames of this file still to pass over
};

_Unwind_Reason_Code collect_frame(struct _Unwind_Context* context, void* arg) {
  Collected* c = static_cast<Collected*>(arg);
  int exact = 0;
  const _Unwind_Ptr ip = _Unwind_GetIPInfo(context, &exact);
  if (ip == 0) return _URC_END_OF_STACK;
  if (c->own_frames > 0) {
    --c->own_frames;
    return _URC_NO_REASON;
  }
  if (c->count >= c->max) return _URC_END_OF_STACK;
  c->frames[c->count].address = ip;
  c->frames[c->count].return_address = exact == 0;
  ++c->count;
  return _URC_NO_REASON;
}

// ---- libdw, loaded when the first trace asks for it

// A program that never traces (the launcher on an ordinary run) does not pay for loading
// libdw and the compression libraries it needs at start-up: the library is opened, and its
// functions looked up, by the first trace.
#define QK_LIBDW_FUNCTIONS(X) \
  X(dwarf_attr) \
  X(dwarf_attr_integrate) \
  X(dwarf_diename) \
  X(dwarf_filesrc) \
  X(dwarf_formref_die) \
  X(dwarf_formstring) \
  X(dwarf_formudata) \
  X(dwarf_getscopes) \
  X(dwarf_getscopes_die) \
  X(dwarf_getsrc_die) \
  X(dwarf_getsrcfiles) \
  X(dwarf_haspc) \
  X(dwarf_lineaddr) \
  X(dwarf_lineno) \
  X(dwarf_linesrc) \
  X(dwarf_tag) \
  X(dwfl_addrmodule) \
  X(dwfl_attach_state) \
  X(dwfl_begin) \
  X(dwfl_end) \
  X(dwfl_errmsg) \
  X(dwfl_frame_pc) \
  X(dwfl_getthread_frames) \
  X(dwfl_linux_proc_find_elf) \
  X(dwfl_linux_proc_report) \
  X(dwfl_module_addrdie) \
  X(dwfl_module_addrinfo) \
  X(dwfl_module_info) \
  X(dwfl_module_nextcu) \
  X(dwfl_report_begin) \
  X(dwfl_report_end) \
  X(dwfl_thread_state_register_pc) \
  X(dwfl_thread_state_registers)

struct LibdwCalls {
#define QK_LIBDW_MEMBER(name) decltype(&::name) name = nullptr;
  QK_LIBDW_FUNCTIONS(QK_LIBDW_MEMBER)
#undef QK_LIBDW_MEMBER
};
LibdwCalls libdw;

// True when every function was found; called under the engine's mutex, once.
bool load_libdw(const char* file_name) {
  void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
#define QK_LIBDW_LOOKUP(name)                                               \
  libdw.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  if (!libdw.name) return false;
  QK_LIBDW_FUNCTIONS(QK_LIBDW_LOOKUP)
#undef QK_LIBDW_LOOKUP
  return true;
}

// ---- the symbol engine: one libdw session for the process

Dwfl* session = nullptr;

void end_session() {
  libdw.dwfl_end(session);
  session = nullptr;
}

char* debuginfo_path = nullptr;

// Separate debugging files (/usr/lib/debug) are not read: a module's own DWARF data names
// its lines, and other modules (the C library's, which would take about a second to read)
// show their functions from the symbol table alone.
int no_separate_debuginfo(Dwfl_Module*, void**, const char*, Dwarf_Addr, const char*, const char*,
                          GElf_Word, char**) {
  return -1;
}

// Filled when libdw has been loaded (its ELF finder is one of its functions).
Dwfl_Callbacks session_callbacks = {nullptr, no_separate_debuginfo, nullptr, &debuginfo_path};

std::string libdw_problem(const char* call) {
  const char* why = libdw.dwfl_errmsg(-1);
  return std::string("The function, ") + call + "(), failed" + (why ? std::string(": ") + why : "");
}

// Reads the process's module list (again: modules loaded since are added).
bool report_modules() {
  libdw.dwfl_report_begin(session);
  const int listed = libdw.dwfl_linux_proc_report(session, getpid());
  return libdw.dwfl_report_end(session, nullptr, nullptr) == 0 && listed == 0;
}

bool start_engine(StackProblemSink problem) {
  const char* library = testing::symbol_library("libdw.so.1");
  if (!load_libdw(library)) {
    if (problem) problem((std::string("Failed to load library, ") + library).c_str());
    return false;
  }
  session_callbacks.find_elf = libdw.dwfl_linux_proc_find_elf;
  session = libdw.dwfl_begin(&session_callbacks);
  if (!session) {
    if (problem) problem(libdw_problem("dwfl_begin").c_str());
    return false;
  }
  if (!report_modules()) {
    if (problem) problem(libdw_problem("dwfl_linux_proc_report").c_str());
    end_session();
    return false;
  }
  return true;
}

bool engine_ready(StackProblemSink problem) {
  return internal::SymbolEngineUse::instance().ready([problem] { return start_engine(problem); });
}

// ---- names

// "ns::Type::run[abi:cxx11](int) const" -> "ns::Type::run"
std::string without_parameters(const std::string& demangled) {
  std::string name;
  name.reserve(demangled.size());
  for (std::size_t i = 0; i < demangled.size(); ++i) {
    if (demangled.compare(i, 5, "[abi:") == 0) {
      const std::size_t close = demangled.find(']', i);
      if (close != std::string::npos) {
        i = close;
        continue;
      }
    }
    name += demangled[i];
  }
  const std::size_t close = name.rfind(')');
  if (close == std::string::npos) return name;
  int depth = 0;
  for (std::size_t i = close + 1; i-- > 0;) {
    if (name[i] == ')') {
      ++depth;
    } else if (name[i] == '(' && --depth == 0) {
      return i > 0 ? name.substr(0, i) : name;
    }
  }
  return name;
}

std::string readable_name(const char* symbol) {
  if (!symbol || !*symbol) return std::string();
  if (symbol[0] != '_' || symbol[1] != 'Z') return symbol;
  int status = 0;
  char* plain = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  if (status != 0 || !plain) {
    std::free(plain);
    return symbol;
  }
  std::string name = without_parameters(plain);
  std::free(plain);
  return name;
}

// The declaration a function's DIE stands for: through its abstract origin (inlined and
// out-of-line copies) and its in-class declaration (a member defined outside its class).
Dwarf_Die declaration_of(Dwarf_Die* die) {
  Dwarf_Die current = *die;
  for (int hops = 0; hops < 8; ++hops) {
    Dwarf_Attribute attr;
    Dwarf_Die next;
    if (libdw.dwarf_formref_die(libdw.dwarf_attr(&current, DW_AT_abstract_origin, &attr), &next) ||
        libdw.dwarf_formref_die(libdw.dwarf_attr(&current, DW_AT_specification, &attr), &next)) {
      current = next;
      continue;
    }
    break;
  }
  return current;
}

// The name with its namespaces and classes, for functions that carry no linkage name
// (those with internal linkage).
std::string qualified_name(Dwarf_Die* die) {
  Dwarf_Die declaration = declaration_of(die);
  const char* own = libdw.dwarf_diename(&declaration);
  if (!own) return std::string();
  std::string name = own;
  Dwarf_Die* scopes = nullptr;
  const int count = libdw.dwarf_getscopes_die(&declaration, &scopes);
  for (int i = 1; i < count; ++i) {
    const int tag = libdw.dwarf_tag(&scopes[i]);
    if (tag != DW_TAG_namespace && tag != DW_TAG_class_type && tag != DW_TAG_structure_type &&
        tag != DW_TAG_union_type)
      continue;
    const char* scope = libdw.dwarf_diename(&scopes[i]);
    name = std::string(scope ? scope : "(anonymous namespace)") + "::" + name;
  }
  std::free(scopes);
  return name;
}

std::string die_function_name(Dwarf_Die* die) {
  Dwarf_Attribute attr;
  const char* linkage = libdw.dwarf_formstring(libdw.dwarf_attr_integrate(die, DW_AT_linkage_name, &attr));
  if (!linkage) linkage = libdw.dwarf_formstring(libdw.dwarf_attr_integrate(die, DW_AT_MIPS_linkage_name, &attr));
  if (linkage) return readable_name(linkage);
  return qualified_name(die);
}

// The file and line of the call that an inlined call's DIE records, for the frame of the
// code it was inlined into.
void call_site(Dwarf_Die* inlined, Dwarf_Files* files, std::size_t file_count, SymbolFrame& caller) {
  Dwarf_Attribute attr;
  Dwarf_Word value = 0;
  caller.file.clear();
  caller.line = 0;
  caller.line_displacement = 0;
  if (files && libdw.dwarf_formudata(libdw.dwarf_attr(inlined, DW_AT_call_file, &attr), &value) == 0 &&
      value < file_count) {
    const char* source = libdw.dwarf_filesrc(files, value, nullptr, nullptr);
    if (source) caller.file = source;
  }
  if (libdw.dwarf_formudata(libdw.dwarf_attr(inlined, DW_AT_call_line, &attr), &value) == 0)
    caller.line = static_cast<int>(value);
}

// ---- walking a context the caller holds

struct ContextWalk {
  const ucontext_t* context = nullptr;
  pid_t thread = 0;
  StackAddress* frames = nullptr;
  int max = 0;
  int count = 0;
};
ContextWalk context_walk;  // under the engine's mutex
bool context_attached = false;

pid_t walk_next_thread(Dwfl*, void* arg, void** thread_arg) {
  if (*thread_arg) return 0;
  *thread_arg = arg;
  return static_cast<ContextWalk*>(arg)->thread;
}

// Reads through the kernel, so that a wrong address in a corrupt stack answers false
// instead of faulting.
bool walk_memory_read(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void*) {
  struct iovec local = {result, sizeof *result};
  struct iovec remote = {reinterpret_cast<void*>(address), sizeof *result};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) ==
         static_cast<ssize_t>(sizeof *result);
}

bool walk_initial_registers(Dwfl_Thread* thread, void* arg) {
  const ucontext_t* uc = static_cast<ContextWalk*>(arg)->context;
#if defined(__x86_64__)
  const greg_t* g = uc->uc_mcontext.gregs;
  // DWARF register numbers 0-16 of x86-64: rax rdx rcx rbx rsi rdi rbp rsp r8-r15 rip.
  const Dwarf_Word regs[17] = {
      Dwarf_Word(g[REG_RAX]), Dwarf_Word(g[REG_RDX]), Dwarf_Word(g[REG_RCX]), Dwarf_Word(g[REG_RBX]),
      Dwarf_Word(g[REG_RSI]), Dwarf_Word(g[REG_RDI]), Dwarf_Word(g[REG_RBP]), Dwarf_Word(g[REG_RSP]),
      Dwarf_Word(g[REG_R8]),  Dwarf_Word(g[REG_R9]),  Dwarf_Word(g[REG_R10]), Dwarf_Word(g[REG_R11]),
      Dwarf_Word(g[REG_R12]), Dwarf_Word(g[REG_R13]), Dwarf_Word(g[REG_R14]), Dwarf_Word(g[REG_R15]),
      Dwarf_Word(g[REG_RIP])};
  libdw.dwfl_thread_state_register_pc(thread, regs[16]);
  return libdw.dwfl_thread_state_registers(thread, 0, 17, regs);
#else
  (void)uc;
  (void)thread;
  return false;  // only x86-64 contexts are known here
#endif
}

void walk_detach(Dwfl*, void*) {}

const Dwfl_Thread_Callbacks walk_callbacks = {walk_next_thread, nullptr, walk_memory_read,
                                              walk_initial_registers, walk_detach, nullptr};

int walk_collect(Dwfl_Frame* state, void* arg) {
  ContextWalk* walk = static_cast<ContextWalk*>(arg);
  Dwarf_Addr pc = 0;
  bool exact = false;
  if (!libdw.dwfl_frame_pc(state, &pc, &exact) || pc == 0) return DWARF_CB_ABORT;
  if (walk->count >= walk->max) return DWARF_CB_ABORT;
  walk->frames[walk->count].address = pc;
  walk->frames[walk->count].return_address = !exact;
  ++walk->count;
  return DWARF_CB_OK;
}

}  // namespace

__attribute__((noinline)) int capture_stack(StackAddress* frames, int max, StackProblemSink) {
  if (!frames || max <= 0) return 0;
  Collected c = {frames, max, 0, 1};  // the unwinder starts in capture_stack itself
  _Unwind_Backtrace(collect_frame, &c);
  return c.count;  // (used after the call: capture_stack keeps a frame of its own)
}

int capture_stack_from_context(const void* context, StackAddress* frames, int max,
                               StackProblemSink problem) {
  if (!context || !frames || max <= 0) return -1;
  std::lock_guard<std::mutex> lock(internal::SymbolEngineUse::instance().mutex());
  if (!engine_ready(problem)) return -1;
  context_walk.context = static_cast<const ucontext_t*>(context);
  context_walk.thread = gettid();
  context_walk.frames = frames;
  context_walk.max = max;
  context_walk.count = 0;
  if (!context_attached) {
    if (!libdw.dwfl_attach_state(session, nullptr, getpid(), &walk_callbacks, &context_walk)) {
      if (problem) problem(libdw_problem("dwfl_attach_state").c_str());
      return -1;
    }
    context_attached = true;
  }
  // The walk ends at the outermost frame, or where the unwind data ends.
  libdw.dwfl_getthread_frames(session, context_walk.thread, walk_collect, &context_walk);
  return context_walk.count > 0 ? context_walk.count : -1;
}

bool lookup_symbols(const StackAddress& frame, std::vector<SymbolFrame>& out,
                    StackProblemSink problem) {
  std::lock_guard<std::mutex> lock(internal::SymbolEngineUse::instance().mutex());
  if (!engine_ready(problem)) return false;
  const Dwarf_Addr step_back = frame.return_address ? 1 : 0;
  const Dwarf_Addr address = frame.address - step_back;

  Dwfl_Module* module = libdw.dwfl_addrmodule(session, address);
  if (!module && report_modules()) module = libdw.dwfl_addrmodule(session, address);

  SymbolFrame outer;
  if (!module) {
    out.push_back(outer);
    return true;
  }
  const char* module_name =
      libdw.dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  outer.module = module_name ? module_name : "";
  GElf_Off offset = 0;
  GElf_Sym symbol;
  const char* symbol_name =
      libdw.dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
  if (symbol_name) {
    outer.function = readable_name(symbol_name);
    outer.symbol_displacement = static_cast<long>(offset + step_back);
  }

  Dwarf_Addr bias = 0;
  Dwarf_Die* unit = libdw.dwfl_module_addrdie(module, address, &bias);
  // Without an address table (.debug_aranges, which clang leaves out) each unit's own
  // ranges are asked.
  if (!unit) {
    while ((unit = libdw.dwfl_module_nextcu(module, unit, &bias)) != nullptr)
      if (libdw.dwarf_haspc(unit, address - bias) > 0) break;
  }
  if (!unit) {
    out.push_back(outer);
    return true;
  }
  // The line table names the line of the innermost function at the address.
  std::string file;
  int line = 0;
  long line_displacement = 0;
  if (Dwarf_Line* entry = libdw.dwarf_getsrc_die(unit, address - bias)) {
    const char* source = libdw.dwarf_linesrc(entry, nullptr, nullptr);
    Dwarf_Addr line_address = 0;
    if (source && libdw.dwarf_lineno(entry, &line) == 0) {
      file = source;
      if (libdw.dwarf_lineaddr(entry, &line_address) == 0)
        line_displacement = static_cast<long>(address - bias - line_address + step_back);
    } else {
      line = 0;
    }
  }
  Dwarf_Files* files = nullptr;
  std::size_t file_count = 0;
  if (libdw.dwarf_getsrcfiles(unit, &files, &file_count) != 0) files = nullptr;

  // The innermost function instance at the address: an inlined call, or the function.
  Dwarf_Die* scopes = nullptr;
  const int scope_count = libdw.dwarf_getscopes(unit, address - bias, &scopes);
  Dwarf_Die innermost = {};
  bool found = false;
  for (int i = 0; i < scope_count && !found; ++i) {
    const int tag = libdw.dwarf_tag(&scopes[i]);
    if (tag == DW_TAG_subprogram || tag == DW_TAG_inlined_subroutine) {
      innermost = scopes[i];
      found = true;
    }
  }
  // (Past an inlined call, those scopes are the inlined function's own definition, not the
  // code it was inlined into.)
  std::free(scopes);
  if (!found) {
    outer.file = file;
    outer.line = line;
    outer.line_displacement = line_displacement;
    out.push_back(outer);
    return true;
  }

  SymbolFrame own = outer;
  own.file = file;
  own.line = line;
  own.line_displacement = line_displacement;
  const std::string name = die_function_name(&innermost);
  if (!name.empty()) own.function = name;
  if (libdw.dwarf_tag(&innermost) == DW_TAG_subprogram) {
    out.push_back(own);
    return true;
  }
  if (name.empty()) own.function.clear();
  out.push_back(own);

  // The callers of an inlined call are its enclosing instances in the code that holds it:
  // each further inlined call, then the function itself. Each stands at the line of the
  // call made from it.
  Dwarf_Die* chain = nullptr;
  const int chain_count = libdw.dwarf_getscopes_die(&innermost, &chain);
  Dwarf_Die* call = &innermost;
  bool reached_function = false;
  for (int i = 1; i < chain_count && !reached_function; ++i) {
    const int tag = libdw.dwarf_tag(&chain[i]);
    if (tag != DW_TAG_subprogram && tag != DW_TAG_inlined_subroutine) continue;
    SymbolFrame caller = outer;
    call_site(call, files, file_count, caller);
    caller.function = die_function_name(&chain[i]);
    reached_function = tag == DW_TAG_subprogram;
    if (caller.function.empty() && reached_function) caller.function = outer.function;
    out.push_back(caller);
    call = &chain[i];
  }
  if (!reached_function) {
    // The enclosing scopes could not be read: the function that holds the code, as the
    // symbol table names it, at the line of the outermost call known.
    SymbolFrame caller = outer;
    call_site(call, files, file_count, caller);
    out.push_back(caller);
  }
  std::free(chain);
  return true;
}

}  // namespace platform
