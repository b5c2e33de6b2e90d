// POSIX backend of the code-page concept. The ANSI and OEM code pages are the character
// set of the user's locale; text crosses between it and UTF-16 through UTF-8 with iconv.
#include "platform/codepage/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <wchar.h>

#include <string>

namespace platform {

namespace {

// The user's locale, made once from the environment without touching the process's
// current locale; the "C" locale when the environment names none that exists.
locale_t user_locale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_ALL_MASK, "", (locale_t)0);
    return l ? l : newlocale(LC_ALL_MASK, "C", (locale_t)0);
  }();
  return locale;
}

const std::string& user_charset() {
  static const std::string charset = nl_langinfo_l(CODESET, user_locale());
  return charset;
}

bool is_utf8_charset(const std::string& name) {
  return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

const char* charset_of(CodePage page) {
  if (page == CODEPAGE_UTF8 || is_utf8_charset(user_charset())) return nullptr;
  return user_charset().c_str();
}

const char replacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Strict UTF-8 to UTF-16; each maximal invalid stretch becomes one U+FFFD.
std::u16string utf8_to_units(const unsigned char* s, size_t n) {
  std::u16string units;
  units.reserve(n);
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      units.push_back(b);
      ++i;
      continue;
    }
    int k = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    char32_t value = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      k = 2, value = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      k = 3, value = b & 0x0F;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      k = 4, value = b & 0x07;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    }
    // j: the first byte not taken; an invalid stretch is the lead and the bytes after it
    // that could still have continued it.
    size_t j = i + 1;
    bool ok = k > 0;
    for (int m = 1; ok && m < k; ++m) {
      const unsigned char c = j < n ? s[j] : 0;
      ok = j < n && (m == 1 ? c >= low && c <= high : is_continuation(c));
      if (!ok) break;
      value = (value << 6) | (c & 0x3F);
      ++j;
    }
    if (!ok) {
      units.push_back(0xFFFD);
      i = j;
      continue;
    }
    if (value < 0x10000) {
      units.push_back(static_cast<char16_t>(value));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    }
    i = j;
  }
  return units;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code points of UTF-16 units; an unpaired surrogate becomes U+FFFD.
std::u32string units_to_code_points(const char16_t* in, size_t n) {
  std::u32string points;
  points.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const char16_t u = in[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      points.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (in[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      points.push_back(0xFFFD);
    } else {
      points.push_back(u);
    }
  }
  return points;
}

size_t utf8_sequence_length(unsigned char b) {
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

// Converts with iconv from one character set to another. Input the target cannot take
// becomes fallback (nothing when fallback is null) and the converter moves on by one
// character of the source (skip gives its length from its first byte).
std::string recode(const char* from, const char* to, const std::string& text, const char* fallback,
                   size_t (*skip)(unsigned char)) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return std::string();
  std::string out;
  char buffer[1024];
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  while (in_left > 0) {
    char* o = buffer;
    size_t o_left = sizeof buffer;
    const size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    out.append(buffer, static_cast<size_t>(o - buffer));
    if (r != (size_t)-1) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (cut short at the end): one replacement, then past that character
    if (fallback) out += fallback;
    size_t n = skip(static_cast<unsigned char>(*in));
    if (n > in_left) n = in_left;
    in += n;
    in_left -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* o = buffer;
  size_t o_left = sizeof buffer;
  iconv(cd, nullptr, nullptr, &o, &o_left);
  out.append(buffer, static_cast<size_t>(o - buffer));
  iconv_close(cd);
  return out;
}

size_t one_byte(unsigned char) { return 1; }

}  // namespace

int multibyte_to_utf16(CodePage page, const char* in, int n, char16_t* out, int out_units) {
  if (!in || n == 0 || n < -1 || out_units < 0) return 0;
  const size_t bytes = n < 0 ? strlen(in) + 1 : static_cast<size_t>(n);
  std::u16string units;
  if (const char* charset = charset_of(page)) {
    // The locale's bytes that iconv cannot read become U+FFFD by way of its UTF-8 form.
    const std::string utf8 = recode(charset, "UTF-8", std::string(in, bytes), replacement, one_byte);
    units = utf8_to_units(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
  } else {
    units = utf8_to_units(reinterpret_cast<const unsigned char*>(in), bytes);
  }
  if (out_units == 0) return static_cast<int>(units.size());
  if (!out || units.size() > static_cast<size_t>(out_units)) return 0;
  memcpy(out, units.data(), units.size() * sizeof(char16_t));
  return static_cast<int>(units.size());
}

int utf16_to_multibyte(CodePage page, const char16_t* in, int n, char* out, int outsize) {
  if (!in || n == 0 || n < -1 || outsize < 0) return 0;
  size_t count = 0;
  if (n < 0) {
    while (in[count] != 0) ++count;
    ++count;
  } else {
    count = static_cast<size_t>(n);
  }
  std::string utf8;
  for (char32_t c : units_to_code_points(in, count)) append_utf8(utf8, c);
  std::string bytes = utf8;
  if (const char* charset = charset_of(page)) bytes = recode("UTF-8", charset, utf8, "?", utf8_sequence_length);
  if (outsize == 0) return static_cast<int>(bytes.size());
  if (!out || bytes.size() > static_cast<size_t>(outsize)) return 0;
  memcpy(out, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

int compare_utf16(const char16_t* a, int a_units, const char16_t* b, int b_units) {
  if (!a || !b || a_units < -1 || b_units < -1) return COMPARE_FAILED;
  auto wide = [](const char16_t* s, int n) {
    size_t count = 0;
    if (n < 0) {
      while (s[count] != 0) ++count;
    } else {
      count = static_cast<size_t>(n);
    }
    std::wstring w;
    for (char32_t c : units_to_code_points(s, count)) w += static_cast<wchar_t>(c);
    return w;
  };
  const int r = wcscoll_l(wide(a, a_units).c_str(), wide(b, b_units).c_str(), user_locale());
  return r < 0 ? COMPARE_LESS : r > 0 ? COMPARE_GREATER : COMPARE_EQUAL;
}

FILE* open_file_utf8(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  return fopen(name, mode);
}

}  // namespace platform
