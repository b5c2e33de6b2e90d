// Inlined calls in optimised code, against binutils' addr2line: for every frame of three
// call shapes, the functions, files and lines that lookup_symbols gives are the ones that
// `addr2line -i -f` gives for the same address. This file is always compiled optimised.
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/stackwalk/stackwalk.h"

#define NOINLINE __attribute__((noinline))
#define INLINED __attribute__((always_inline)) inline

// The shapes have external linkage, so that the symbol data names them with their
// namespaces; each body differs, so that none is folded into another.
namespace inline_shapes {

volatile int work = 0;

struct Captured {
  platform::StackAddress frames[64];
  int count = 0;
};

NOINLINE void capture_into(Captured& c) {
  c.count = platform::capture_stack(c.frames, 64, nullptr);
  work = work + 1;
}

// Shape 1: a function that is not inlined, called from an inlined one.
NOINLINE void shape1_leaf(Captured& c) {
  capture_into(c);
  work = work + 11;
}
INLINED void shape1_middle(Captured& c) {
  shape1_leaf(c);
  work = work + 12;
}
NOINLINE void shape1_outer(Captured& c) {
  shape1_middle(c);
  work = work + 13;
}

// Shape 2: two inlined levels, one inside the other, between two real frames.
NOINLINE void shape2_leaf(Captured& c) {
  capture_into(c);
  work = work + 21;
}
INLINED void shape2_inner(Captured& c) {
  shape2_leaf(c);
  work = work + 22;
}
INLINED void shape2_middle(Captured& c) {
  work = work + 23;
  shape2_inner(c);
  work = work + 24;
}
NOINLINE void shape2_outer(Captured& c) {
  shape2_middle(c);
  work = work + 25;
}

// Shape 3: the capture itself inside inlined code (a class member): the first frame's
// own address is in the inlined call.
struct Holder {
  INLINED static void capture(Captured& c) {
    capture_into(c);
    work = work + 31;
  }
};
NOINLINE void shape3_outer(Captured& c) {
  Holder::capture(c);
  work = work + 33;
}

}  // namespace inline_shapes

using inline_shapes::Captured;

namespace {

// The load bias of the module that holds an address (what addr2line's addresses leave
// out), found with the dynamic linker's module list.
struct BiasSearch {
  std::uintptr_t address;
  std::uintptr_t bias;
  bool found;
};

int find_bias(struct dl_phdr_info* info, std::size_t, void* data) {
  BiasSearch* s = static_cast<BiasSearch*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    const std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
    if (s->address >= start && s->address < start + ph.p_memsz) {
      s->bias = info->dlpi_addr;
      s->found = true;
      return 1;
    }
  }
  return 0;
}

std::string base_of(const std::string& path) {
  const std::size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// "shape1_outer(Captured&)" -> "shape1_outer"
std::string without_parameters(const std::string& name) {
  const std::size_t open = name.find('(');
  return open == std::string::npos ? name : name.substr(0, open);
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool have_addr2line() { return run("addr2line --version 2>/dev/null").find("addr2line") != std::string::npos; }

// "function file:line" for each frame that an address stands for, innermost first, as
// addr2line names them.
std::vector<std::string> addr2line_frames(const platform::StackAddress& frame) {
  const std::uintptr_t looked_up = frame.address - (frame.return_address ? 1 : 0);
  BiasSearch search = {looked_up, 0, false};
  dl_iterate_phdr(find_bias, &search);
  char address[32];
  std::snprintf(address, sizeof address, "0x%lx", static_cast<unsigned long>(looked_up - search.bias));
  const std::string out = run("addr2line -C -i -f -e /proc/" + std::to_string(getpid()) + "/exe " + address);
  std::vector<std::string> frames;
  std::size_t pos = 0;
  while (pos < out.size()) {
    const std::size_t name_end = out.find('\n', pos);
    if (name_end == std::string::npos) break;
    const std::size_t place_end = out.find('\n', name_end + 1);
    const std::string name = out.substr(pos, name_end - pos);
    std::string place = out.substr(name_end + 1, (place_end == std::string::npos ? out.size() : place_end) - name_end - 1);
    place = place.substr(0, place.find(' '));  // without "(discriminator N)"
    frames.push_back(without_parameters(name) + " " + base_of(place));
    pos = place_end == std::string::npos ? out.size() : place_end + 1;
  }
  return frames;
}

std::vector<std::string> engine_frames(const platform::StackAddress& frame) {
  std::vector<platform::SymbolFrame> symbols;
  EXPECT_TRUE(platform::lookup_symbols(frame, symbols, nullptr));
  std::vector<std::string> frames;
  for (const platform::SymbolFrame& s : symbols)
    frames.push_back(s.function + " " + base_of(s.file) + ":" + std::to_string(s.line));
  return frames;
}

// Compares the frames up to and including the frame named last, and answers the names
// in order.
std::string compare_shape(const Captured& c, const std::string& last) {
  std::string names;
  for (int i = 1; i < c.count; ++i) {  // frame 0 is capture_into
    const std::vector<std::string> expected = addr2line_frames(c.frames[i]);
    EXPECT_EQ(expected, engine_frames(c.frames[i])) << "frame " << i;
    for (const std::string& f : expected) names += f.substr(0, f.find(' ')) + ";";
    if (!expected.empty() && expected.back().compare(0, last.size() + 1, last + " ") == 0) return names;
  }
  ADD_FAILURE() << "no frame of " << last << " in " << names;
  return names;
}

// Under the sanitizers clang keeps some of these calls out of line, which addr2line then
// shows as it is; the engine must still agree with it frame by frame, but the shapes
// themselves are those of an uninstrumented optimised build.
#if defined(QK_ADDRESS_SANITIZER) || defined(QK_THREAD_SANITIZER)
const bool shapes_as_written = false;
#else
const bool shapes_as_written = true;
#endif

TEST(StackWalkInlined, FramesAgreeWithAddr2line) {
  if (!have_addr2line()) GTEST_SKIP() << "binutils' addr2line is not installed: nothing to compare with";
#ifdef __clang__
  // The inlined calls are read from the debug data g++ and mingw write (the programs we
  // ship); in clang's, the engine finds the function the calls were inlined into only.
  GTEST_SKIP() << "inlined calls are not yet read from clang's debug data";
#endif
  Captured c;
  inline_shapes::shape1_outer(c);
  const std::string shape1 = compare_shape(c, "inline_shapes::shape1_outer");
  inline_shapes::shape2_outer(c);
  const std::string shape2 = compare_shape(c, "inline_shapes::shape2_outer");
  inline_shapes::shape3_outer(c);
  const std::string shape3 = compare_shape(c, "inline_shapes::shape3_outer");
  if (!shapes_as_written) return;
  EXPECT_EQ("inline_shapes::shape1_leaf;inline_shapes::shape1_middle;inline_shapes::shape1_outer;", shape1);
  EXPECT_EQ("inline_shapes::shape2_leaf;inline_shapes::shape2_inner;inline_shapes::shape2_middle;"
            "inline_shapes::shape2_outer;",
            shape2);
  EXPECT_EQ("inline_shapes::Holder::capture;inline_shapes::shape3_outer;", shape3);
}

}  // namespace
