// The numbered log files' names.
#include "log/logfile_names.h"

#include <cstring>
#include <initializer_list>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int ringOfDigit(int digit) {
  static const int rings[] = {2, 10, 100, 1000, 10000};
  return digit >= 0 && digit <= 4 ? rings[digit] : 10000;
}

// Appends characters to a buffer of size bytes, counting those that do not fit.
struct NameOutput {
  char* out;
  std::size_t size;
  std::size_t length = 0;
  void put(char c) {
    if (length + 1 < size) out[length] = c;
    ++length;
  }
  void end() {
    if (size > 0) out[length < size ? length : size - 1] = '\0';
  }
};

}  // namespace

int log_file_ring(const char* pattern, std::size_t length) {
  int digit = 0;
  for (std::size_t i = 0; i + 1 < length; ++i)
    if (pattern[i] == '%' && isDigit(pattern[i + 1])) digit = pattern[i + 1] - '0';
  return ringOfDigit(digit);
}

std::size_t log_file_name(const char* pattern, std::size_t length, std::int32_t number, char* out,
                          std::size_t size) {
  NameOutput name{out, size};
  for (std::size_t i = 0; i < length; ++i) {
    if (pattern[i] != '%' || i + 1 >= length || !isDigit(pattern[i + 1])) {
      name.put(pattern[i]);
      continue;
    }
    const int digit = pattern[++i] - '0';
    const int ring = ringOfDigit(digit);
    int value = static_cast<int>(number % ring);
    if (value < 0) value += ring;
    char digits[12];
    int width = 0;
    do {
      digits[width++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0);
    while (width < digit) digits[width++] = '0';
    while (width > 0) name.put(digits[--width]);
  }
  name.end();
  return name.length;
}

std::size_t log_file_path(const char* log_directory, const char* directory, const char* pattern,
                          std::int32_t number, char* out, std::size_t size) {
  if (size == 0) return 0;
  std::size_t n = 0;
  for (const char* part : {log_directory, "/", directory, "/"})
    for (const char* c = part; *c && n + 1 < size; ++c) out[n++] = *c;
  out[n] = '\0';
  const std::size_t name = log_file_name(pattern, std::strlen(pattern), number, out + n, size - n);
  return n + (name < size - n ? name : size - n - 1);
}
