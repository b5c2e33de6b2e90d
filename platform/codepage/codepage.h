// Code pages: converting text between a code page and UTF-16, comparing UTF-16 texts by
// the user's locale, and opening a file by a UTF-8 name.
//
//   char16_t wide[64] = {};
//   int units = platform::multibyte_to_utf16(platform::CODEPAGE_UTF8, "caf\xc3\xa9", -1, wide, 64);
//   char narrow[64];
//   platform::utf16_to_multibyte(platform::CODEPAGE_ANSI, wide, -1, narrow, sizeof narrow);
//
// Windows converts with MultiByteToWideChar and WideCharToMultiByte and compares with
// CompareStringW. POSIX has no ANSI or OEM code page: both are the character set of the
// user's locale (the one setlocale(LC_ALL, "") would choose), converted with iconv, and
// comparison is wcscoll in that locale.
//
// Threads: every call may come from any thread at once; the locale is read once, at the first call.
#ifndef QK_PLATFORM_CODEPAGE_CODEPAGE_H
#define QK_PLATFORM_CODEPAGE_CODEPAGE_H

#include <stdio.h>

namespace platform {

enum CodePage { CODEPAGE_UTF8, CODEPAGE_ANSI, CODEPAGE_OEM };

// MultiByteToWideChar(page, 0, in, n, out, out_units): converts n bytes (-1: through the
// terminating NUL, which is converted too) and answers the units written; with out_units
// 0 only the units needed. 0 on failure: n is 0, in is null, or out is too small. Bytes
// that are not valid in the code page become U+FFFD.
int multibyte_to_utf16(CodePage page, const char* in, int n, char16_t* out, int out_units);

// WideCharToMultiByte(page, 0, in, n, out, outsize, NULL, NULL): converts n units (-1:
// through the terminating 0 unit) and answers the bytes written; with outsize 0 only the
// bytes needed. 0 on failure: n is 0, in is null, or out is too small. A character the
// code page cannot hold becomes "?".
int utf16_to_multibyte(CodePage page, const char16_t* in, int n, char* out, int outsize);

// The results of compare_utf16, as CompareStringW answers.
enum { COMPARE_FAILED = 0, COMPARE_LESS = 1, COMPARE_EQUAL = 2, COMPARE_GREATER = 3 };

// CompareStringW(0, 0, a, a_units, b, b_units) in the user's locale; a count of -1 means
// up to the terminating 0 unit.
int compare_utf16(const char16_t* a, int a_units, const char16_t* b, int b_units);

// A C stream opened by a UTF-8 file name and mode: _wfopen on their UTF-16 forms on
// Windows, fopen on POSIX (whose file names are UTF-8 already). nullptr on failure.
FILE* open_file_utf8(const char* name, const char* mode);

}  // namespace platform

#endif
