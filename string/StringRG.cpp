// String and SubString with a Regex: searching, the windows around a match, removing a
// match, splitting at a separator and taking a match's groups.
#include "string/Regex.h"
#include "string/String.h"
#include "string/internal/regexp_internal.h"
#include "string/internal/string_internal.h"
#include "string/regexp.h"

namespace {

// The search of r in s from startpos (its groups into groups when given); -1 after
// reporting a bad string.
int find(const String& s, const Regex& r, int startpos, int& matchlen,
         Regex::Groups* groups = nullptr) {
  matchlen = 0;
  const StringRep* rep = s.rep();
  if (!StringRep::valid(rep)) {
    string_error(__LINE__, "bad string", ERROR);
    return -1;
  }
  return groups ? r.search(rep->text(), rep->length, matchlen, startpos, *groups)
                : r.search(rep->text(), rep->length, matchlen, startpos);
}

}  // namespace

int String::index(const Regex& r, int startpos) const {
  int matchlen;
  return find(*this, r, startpos, matchlen);
}

int String::contains(const Regex& r) const { return index(r, 0) >= 0; }

int String::contains(const Regex& r, int startpos) const { return index(r, startpos) >= 0; }

int String::matches(const Regex& r, int pos) const {
  const int n = length();
  if (pos < 0) pos += n;
  if (pos < 0) return 0;
  return index(r, pos) == pos;
}

SubString String::at(const Regex& r, int startpos) {
  int matchlen;
  const int p = find(*this, r, startpos, matchlen);
  return p < 0 ? at(-1, 0) : at(p, matchlen);
}

SubString String::before(const Regex& r, int startpos) {
  int matchlen;
  const int p = find(*this, r, startpos, matchlen);
  return p < 0 ? at(-1, 0) : at(0, p);
}

SubString String::through(const Regex& r, int startpos) {
  int matchlen;
  const int p = find(*this, r, startpos, matchlen);
  return p < 0 ? at(-1, 0) : at(0, p + matchlen);
}

SubString String::from(const Regex& r, int startpos) {
  int matchlen;
  const int p = find(*this, r, startpos, matchlen);
  return p < 0 ? at(-1, 0) : at(p, length() - p);
}

SubString String::after(const Regex& r, int startpos) {
  int matchlen;
  const int p = find(*this, r, startpos, matchlen);
  return p < 0 ? at(-1, 0) : at(p + matchlen, length() - p - matchlen);
}

void String::remove(const Regex& r, int startpos) {
  SubString match = at(r, startpos);
  if (match.found() && match.valid()) match = "";
}

int SubString::contains(const Regex& r) const {
  if (!valid()) {
    string_error(__LINE__, "Searching corrupt substring", ERROR);
    return 0;
  }
  int matchlen;
  return r.search(text(), len_, matchlen, 0) >= 0;
}

int SubString::matches(const Regex& r) const {
  if (!valid()) {
    string_error(__LINE__, "Searching corrupt substring", ERROR);
    return 0;
  }
  int matchlen;
  return r.search(text(), len_, matchlen, 0) == 0;
}

int split(const String& x, String res[], int maxn, const Regex& sep) {
  const String copy(x);  // res may hold x itself
  if (!res || !StringRep::valid(copy.rep())) return 0;
  const char* text = copy.rep()->text();
  const int n = copy.rep()->length;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  int pos = 0, i = 0;
  long long steps = regexp_step_budget(n);  // shared by every search of the split
  while (i < maxn && pos < n) {
    int matchlen;
    int m = sep.search(text, n, matchlen, pos, steps);
    if (m == pos && matchlen == 0) {
      const int k = string_internal::utf8_sequence_length(bytes + pos, bytes + n);
      m = sep.search(text, n, matchlen, pos + (k > 0 ? k : 1), steps);
    }
    if (m < 0) {
      m = n;
      matchlen = 0;
    }
    res[i++] = String(text + pos, m - pos);
    pos = m + matchlen;
  }
  return i;
}

namespace {

// Groups 1 to n of the first match of r in x, handed to take(i, start, length) in order.
template <typename Take>
int each_group(const String& x, int n, const Regex& r, Take take) {
  const String copy(x);
  int matchlen;
  Regex::Groups found;  // of this search, also when other threads search with r
  if (find(copy, r, 0, matchlen, &found) < 0) return 0;
  int filled = 0;
  for (int i = 1; i <= n; ++i) {
    int start, length;
    if (!found.group(i, start, length)) break;
    take(copy, i - 1, start, length);
    ++filled;
  }
  return filled;
}

}  // namespace

int groups(const String& x, String res[], int n, const Regex& r) {
  if (!res) return 0;
  return each_group(x, n, r, [res](const String& copy, int i, int start, int length) {
    res[i] = String(copy.rep()->text() + start, length);
  });
}

int group_positions(const String& x, int start[], int length[], int n, const Regex& r) {
  if (!start || !length) return 0;
  return each_group(x, n, r, [start, length](const String&, int i, int s, int l) {
    start[i] = s;
    length[i] = l;
  });
}
