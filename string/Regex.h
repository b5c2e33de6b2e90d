// Regex: a pattern of the framework's regular-expression dialect (see string/regexp.h),
// compiled on its first search.
//
//   Regex assignment("\\([A-Za-z_]+\\)=\\([0-9]+\\)");
//   int length;
//   int at = assignment.search(text, n, length, 0);     // -1: no match
//   int start, count;
//   if (at >= 0 && assignment.group_info(start, count, 2)) ...
//
// A pattern that does not compile stays uncompiled: every search logs its error again and
// fails. Group positions describe the last search through this Regex and are overwritten
// by the next.
//
// Threads: one Regex, the predefined patterns among them, may be searched from any number
// of threads at once; it is compiled once and each search keeps its state to itself. Only
// group_info is shared, telling the last search of whichever thread: a thread that shares
// the Regex takes its groups from the search itself (the Groups form). Assigning to a
// Regex, or destroying it, must not overlap its searches.
#ifndef QK_STRING_REGEX_H
#define QK_STRING_REGEX_H

struct regexp;

class Regex {
 public:
  // Keeps a copy of the pattern. The two numbers are accepted for callers that pass them
  // and are not used.
  explicit Regex(const char* pattern, int = 0, int = 0);
  // A new, uncompiled pattern with the other's text.
  Regex(const Regex& other);
  Regex& operator=(const Regex& other);
  ~Regex();

  // The first match in text[startpos, len) (the start anchor matches at startpos, the
  // end anchor at len): its position, with matchlen set to its length; -1 (matchlen 0)
  // when there is none. startpos = len finds nothing unless len is 0.
  //
  // A negative startpos searches backward: the last of the successive matches from 0 (each
  // searched from where the one before ended, an empty one stepping over one character)
  // that lie in text[0, len + startpos], so -1 takes in the whole text.
  //
  // A match that would begin inside a UTF-8 character begins at the character instead,
  // when the character lies in the searched text; matchlen then counts from there.
  int search(const char* text, int len, int& matchlen, int startpos = 0) const;
  // The same search, drawing its steps from steps, a budget that the searches of one
  // operation share (start it at regexp_step_budget of the text's length): an operation
  // that searches again and again stops when the budget runs out, as one search does
  // ("match step limit exceeded" in the log, no match found).
  int search(const char* text, int len, int& matchlen, int startpos, long long& steps) const;

  // The group positions of one search (offsets from text; -1 for a group that did not take
  // part): 0 the whole match, 1 to 19 the groups (regexp_groups in all).
  struct Groups {
    int start[20];
    int end[20];
    // As group_info, for this search.
    bool group(int n, int& position, int& length) const;
  };
  // search, giving this search's groups to the caller as well.
  int search(const char* text, int len, int& matchlen, int startpos, Groups& groups) const;
  // The length of the match that search finds, or -1 when there is none.
  int match_length(const char* text, int len, int startpos = 0) const;
  // Position and length of group n (0: the whole match, 1 to 19) of the last search;
  // false, with start -1, for a group that did not take part or an n outside 0 to 19.
  bool group_info(int& start, int& length, int n) const;

  const char* pattern() const;

 private:
  // The program, compiled now if it is not yet (nullptr after logging why not).
  regexp* program() const;
  // steps: the budget to draw on, or nullptr for one of the search's own.
  int find(const char* text, int len, int& matchlen, int startpos, Groups& groups, long long* steps) const;
  int forward(const char* text, int len, int start, int& matchlen, Groups& groups, long long* steps) const;
  int backward(const char* text, int len, int last, int& matchlen, Groups& groups, long long* steps) const;

  struct Record;
  Record* record_;
};

class String;

// The fields of x between the matches of sep into res (at most maxn); returns how many.
// A leading separator gives an empty first field; a trailing one gives no empty last
// field. An empty separator match at the start of a field is passed over, so such a
// separator splits between characters.
int split(const String& x, String res[], int maxn, const Regex& sep);
// The texts (positions and lengths) of groups 1 to n of the first match of r in x;
// returns how many were filled, stopping at the first group that did not take part.
int groups(const String& x, String res[], int n, const Regex& r);
int group_positions(const String& x, int start[], int length[], int n, const Regex& r);

// The predefined patterns, compiled on first use, shared by every thread.
extern const Regex whitespace_pattern;  // "[ \n\t\r\v\f]+"
extern const Regex integer_pattern;     // "-?[0-9]+"
extern const Regex double_pattern;      // a decimal number with optional fraction and exponent
extern const Regex alpha_pattern;       // "[A-Za-z]+"
extern const Regex lower_pattern;       // "[a-z]+"
extern const Regex upper_pattern;       // "[A-Z]+"
extern const Regex alnum_pattern;       // "[0-9A-Za-z]+"
extern const Regex identifier_pattern;  // "[A-Za-z_][A-Za-z0-9_]*"

#endif
