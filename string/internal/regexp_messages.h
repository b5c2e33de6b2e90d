// For the tests: collects the messages the regexp module logs while the object lives.
#ifndef QK_STRING_INTERNAL_REGEXP_MESSAGES_H
#define QK_STRING_INTERNAL_REGEXP_MESSAGES_H

#include <string>
#include <vector>

#include "string/internal/regexp_internal.h"

class RegexpMessages {
 public:
  RegexpMessages() {
    collected().clear();
    regexp_internal::set_error_observer([](const char* message) { collected().push_back(message); });
  }
  ~RegexpMessages() { regexp_internal::set_error_observer(nullptr); }
  RegexpMessages(const RegexpMessages&) = delete;
  RegexpMessages& operator=(const RegexpMessages&) = delete;
  const std::vector<std::string>& all() const { return collected(); }

 private:
  static std::vector<std::string>& collected() {
    static std::vector<std::string> messages;
    return messages;
  }
};

#endif
