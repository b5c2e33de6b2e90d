// Command texts cut into words as a shell does, and decimal numbers.
#include "env/qkos_words.h"

#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "env/env.h"

namespace {

// Other modules may call in during static initialisation or exit, before or after this
// module's own objects live: the text buffer is built on first use and never destroyed.
std::string& command_buffer() {
  static std::string* text = new std::string;
  return *text;
}

const size_t kCommandMax = 999;

bool is_name_char(char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// At command[i] == '$': appends the value of $NAME or ${NAME} (nothing when unset) or a
// plain "$" when no name follows; returns the index after what was used.
size_t expand_reference(const std::string& command, size_t i, std::string& word) {
  size_t start = i + 1;
  if (start < command.size() && command[start] == '{') {
    size_t close = command.find('}', start + 1);
    std::string name =
        close == std::string::npos ? std::string() : command.substr(start + 1, close - start - 1);
    bool valid = !name.empty();
    for (char c : name) valid = valid && is_name_char(c);
    if (valid) {
      if (const char* v = env_lookup(name.c_str(), 0)) word += v;
      return close + 1;
    }
  } else {
    size_t end = start;
    while (end < command.size() && is_name_char(command[end])) ++end;
    if (end > start) {
      if (const char* v = env_lookup(command.substr(start, end - start).c_str(), 0)) word += v;
      return end;
    }
  }
  word.push_back('$');
  return i + 1;
}

// The command's words as a shell splits them.
std::vector<std::string> shell_words(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  size_t i = 0;
  const size_t n = command.size();
  while (i < n) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      ++i;
    } else if (c == '\'') {
      size_t close = command.find('\'', i + 1);
      if (close == std::string::npos) close = n;
      word += command.substr(i + 1, close - i - 1);
      i = close + 1;
    } else if (c == '"') {
      ++i;
      while (i < n && command[i] != '"') {
        const char d = command[i];
        if (d == '\\' && i + 1 < n && strchr("\n\"\\$", command[i + 1])) {
          word.push_back(command[i + 1]);
          i += 2;
        } else if (d == '$') {
          i = expand_reference(command, i, word);
        } else {
          word.push_back(d);
          ++i;
        }
      }
      ++i;  // the closing quote
    } else if (c == '\\' && i + 1 < n) {
      if (command[i + 1] != '\n') word.push_back(command[i + 1]);
      i += 2;
    } else if (c == '$') {
      i = expand_reference(command, i, word);
    } else {
      word.push_back(c);
      ++i;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

const char* quote_where_words(const char* command) {
  command_buffer().clear();
  for (const std::string& w : shell_words(command ? command : "")) {
    if (w.compare(0, 5, "WHERE") == 0)
      command_buffer() += "\"" + w + "\"";
    else
      command_buffer() += w;
    command_buffer().push_back(' ');
  }
  if (command_buffer().size() > kCommandMax) command_buffer().resize(kCommandMax);
  return command_buffer().c_str();
}

void split_words(const char* text, char** words) {
  if (!text || !words) return;
  const char* p = text;
  for (;;) {
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    const size_t len = static_cast<size_t>(end - p);
    char* word = new char[len + 1];
    memcpy(word, p, len);
    word[len] = '\0';
    *words++ = word;
    if (!*end) break;
    p = end + 1;
  }
}

long parse_decimal(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t') ++text;
  // Read without a sign, so that too many digits wrap instead of overflowing.
  unsigned long n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) n = n * 10 + static_cast<unsigned long>(*text - '0');
  return static_cast<long>(n);
}
