// The text fields of the shared log block: fixed-size character arrays that any program of
// the installation may write. A text ends at its first zero byte or at the field's end,
// whichever comes first, so a field is only ever read within its size; a text is stored
// with at most size - 1 characters and zeros after it.
#ifndef QK_LOG_FIXED_FIELD_H
#define QK_LOG_FIXED_FIELD_H

#include <cstddef>
#include <cstring>
#include <string>

// The number of characters of the field's text.
inline std::size_t field_length(const char* field, std::size_t size) { return strnlen(field, size); }

// The field's text up to its zero byte or the field's end.
inline std::string field_text(const char* field, std::size_t size) {
  return std::string(field, field_length(field, size));
}

// True when the field's text is the text (never for nullptr).
inline bool field_equals(const char* field, std::size_t size, const char* text) {
  if (!text) return false;
  const std::size_t n = field_length(field, size);
  return std::strlen(text) == n && std::memcmp(field, text, n) == 0;
}

// Stores the text (nullptr: empty) in the field: at most size - 1 characters, the rest of
// the field zero.
inline void field_set(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  if (size == 0 || !text) return;
  std::memcpy(field, text, strnlen(text, size - 1));
}

#endif
