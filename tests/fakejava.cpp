// A stand-in Java runtime for the launcher's tests. It writes what it received to the
// file named by FAKEJAVA_REPORT: one line "arg <n> [<text>]" per argument (its own name
// included as argument 0) and one line "env <NAME=value>" per environment entry. It writes
// "fakejava out" to standard output and "fakejava err" to standard error, copies standard
// input to standard output when FAKEJAVA_ECHO_STDIN is set, and exits with the code in
// FAKEJAVA_EXIT (0 when unset).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/environment/environment.h"

int main(int argc, char** argv) {
  if (const char* report = platform::get_env("FAKEJAVA_REPORT")) {
    std::ofstream f(report, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < argc; ++i) f << "arg " << i << " [" << argv[i] << "]\n";
    for (const std::string& e : platform::environment_entries()) f << "env " << e << "\n";
  }
  std::cout << "fakejava out" << std::endl;
  std::cerr << "fakejava err" << std::endl;
  if (platform::get_env("FAKEJAVA_ECHO_STDIN")) {
    std::string line;
    while (std::getline(std::cin, line)) std::cout << line << "\n";
    std::cout.flush();
  }
  const char* code = platform::get_env("FAKEJAVA_EXIT");
  return code ? std::atoi(code) : 0;
}
