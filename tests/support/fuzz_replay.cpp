// A main for a fuzz target built without libFuzzer (any compiler): each argument is a file
// given to the target as one input (a corpus folder: its files, e.g. dir/*); with no
// argument, the empty input. Exits 0 when every input ran (the target itself ends the process on a fault).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool run_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "fuzz replay: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    LLVMFuzzerTestOneInput(nullptr, 0);
    return 0;
  }
  bool ok = true;
  for (int i = 1; i < argc; ++i) ok = run_file(argv[i]) && ok;
  return ok ? 0 : 1;
}
