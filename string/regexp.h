// regexp: the framework's regular-expression compiler and matcher.
//
// A backtracking matcher of the classic compiled-node kind: the pattern becomes a program
// of nodes, and a search tries each start position from left to right, taking the first
// match that greedy repetition with backing off finds there.
//
// The dialect (nothing else exists: no classes, no counted repetition, no other escapes):
//
//   .          any one byte                 [set] [^set]  one byte in / not in the set
//   ^   $      where the search began / the end of the searched text (anywhere in a pattern)
//   x* x+ x?   0 or more, 1 or more, 0 or 1, as many as possible
//   \( \)      a group (1 to 19, numbered by their openings)
//   \|         alternatives, lowest precedence
//   \c         the byte c itself; ( ) | { } are ordinary bytes without a backslash
//
// In a set, a ] or - right after [ or [^ is a member, x-y adds the bytes x to y, a - before
// the closing ] is a member, and a backslash is an ordinary byte.
//
//   regexp* prog = regexp_compile("\\([a-z]+\\)=\\([0-9]+\\)");
//   int end;
//   int at = regexp_exec(prog, text, 0, length, &end, nullptr);   // -1: none
//   int g1, g1_end;
//   regexp_group(prog, 1, &g1, &g1_end);
//   regexp_free(prog);
//
// Every compile and match error is logged at ERROR under the source name "regexp"; the
// compile then yields nullptr and the search fails. The compiler keeps its state in each
// call, and a program keeps the state of its own searches, so two threads may use two
// programs at once; one program belongs to one thread at a time.
#ifndef QK_STRING_REGEXP_H
#define QK_STRING_REGEXP_H

struct regexp;

// Groups 0 (the whole match) to 19.
const int regexp_groups = 20;

// The compiled program of the pattern, or nullptr after logging why there is none.
regexp* regexp_compile(const char* pattern);
void regexp_free(regexp* prog);
// Why the pattern does not compile ("unmatched ()", "trailing \\"), or nullptr when it
// does; nothing is logged, so that a program can tell its user in its own words.
const char* regexp_check(const char* pattern);

// Searches text[start, end) for the leftmost match; nothing outside it is seen, the start
// anchor matches at start and the end anchor at end. Returns the match's position (offsets
// count from text) and sets *match_end, or returns -1 when there is no match and -2 after
// a logged error. steps, when given, is the step budget that the search draws on (shared
// by several searches); without it the search has a budget of its own. A search that
// would take more steps, or more backtracking state than a search may keep, fails with a
// logged error instead of running on.
int regexp_exec(regexp* prog, const char* text, int start, int end, int* match_end, long long* steps);

// Position and end of group n (0 to 19) of the last search, relative to the text it was
// given; false when the group did not take part (both then -1).
bool regexp_group(const regexp* prog, int n, int* start, int* end);
// Moves the start of group 0 (the UTF-8 correction of a match's start).
void regexp_set_match_start(regexp* prog, int start);

// The step budget of a search over a text of length bytes.
long long regexp_step_budget(int length);

#endif
