// Windows backend of the code-page concept: the national-language support functions.
#include "platform/codepage/codepage.h"

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include <vector>

namespace platform {

namespace {

UINT windows_code_page(CodePage page) {
  switch (page) {
    case CODEPAGE_ANSI:
      return CP_ACP;
    case CODEPAGE_OEM:
      return CP_OEMCP;
    case CODEPAGE_UTF8:
      break;
  }
  return CP_UTF8;
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are Windows wide characters");

}  // namespace

int multibyte_to_utf16(CodePage page, const char* in, int n, char16_t* out, int out_units) {
  if (!in || out_units < 0) return 0;
  return MultiByteToWideChar(windows_code_page(page), 0, in, n, reinterpret_cast<wchar_t*>(out), out_units);
}

int utf16_to_multibyte(CodePage page, const char16_t* in, int n, char* out, int outsize) {
  if (!in || outsize < 0) return 0;
  return WideCharToMultiByte(windows_code_page(page), 0, reinterpret_cast<const wchar_t*>(in), n, out, outsize,
                             NULL, NULL);
}

int compare_utf16(const char16_t* a, int a_units, const char16_t* b, int b_units) {
  if (!a || !b) return COMPARE_FAILED;
  return CompareStringW(0, 0, reinterpret_cast<const wchar_t*>(a), a_units, reinterpret_cast<const wchar_t*>(b),
                        b_units);
}

FILE* open_file_utf8(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  // Zero-filled buffers of strlen + 1 units hold the UTF-16 forms with their terminator.
  std::vector<wchar_t> wide_name(strlen(name) + 1, 0);
  std::vector<wchar_t> wide_mode(strlen(mode) + 1, 0);
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name.data(), static_cast<int>(wide_name.size())) == 0 ||
      MultiByteToWideChar(CP_UTF8, 0, mode, -1, wide_mode.data(), static_cast<int>(wide_mode.size())) == 0)
    return nullptr;
  return _wfopen(wide_name.data(), wide_mode.data());
}

}  // namespace platform
