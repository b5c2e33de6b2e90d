// The compiled program behind a regexp, for the string module's other parts and its tests.
//
// The program is a run of bytes: the magic byte 156, then nodes. A node is one byte of
// kind, a 16-bit offset to the next node (high byte first; 0 = none; a back node counts
// backwards) and, for some kinds, an operand. A program may not reach 32767 bytes.
//
// For matching, the node bytes are read once into an array of decoded nodes (sets become
// 256-entry tables), and the search aids are worked out.
#ifndef QK_STRING_INTERNAL_REGEXP_INTERNAL_H
#define QK_STRING_INTERNAL_REGEXP_INTERNAL_H

#include <array>
#include <cstdint>
#include <vector>

#include "string/regexp.h"

namespace regexp_internal {

enum Kind : unsigned char {
  END = 0,       // success
  BOL = 1,       // the empty string where the search began
  EOL = 2,       // the empty string at the end of the searched text
  ANY = 3,       // one byte other than NUL
  ANYOF = 4,     // one byte in the set (NUL-terminated operand)
  ANYBUT = 5,    // one byte not in the set and not NUL
  BRANCH = 6,    // the operand, else the next branch of the same alternation
  BACK = 7,      // nothing; closes a loop (its offset counts backwards)
  EXACTLY = 8,   // the literal run (NUL-terminated operand)
  NOTHING = 9,   // the empty string
  STAR = 10,     // a one-byte operand 0 or more times, as often as possible
  PLUS = 11,     // the same, 1 or more times
  OPEN = 20,     // OPEN + n records the start of group n (1 to 19)
  CLOSE = 70,    // CLOSE + n records its end
};

const unsigned char magic = 156;
const int program_limit = 32767;

// A node as the matcher reads it. ANY, ANYOF and ANYBUT are all CLASS nodes with a table.
struct Node {
  unsigned char kind;  // a Kind, or CLASS
  unsigned char group; // OPEN and CLOSE: the group number
  // A match from this node cannot fail, wherever it begins: the choices made before it
  // need not be kept once the matcher may come back here.
  bool sure;
  std::int32_t next;   // index of the next node, -1 for none
  std::int32_t operand;// BRANCH, STAR, PLUS: index of the operand node; CLASS: its table;
                       // EXACTLY: offset of the literal in the program
  std::int32_t length; // EXACTLY: the literal's length
  // STAR and PLUS: the fewest repetitions and the byte that must follow the run (-1: any)
  std::int32_t min;
  std::int32_t follow;
};
const unsigned char CLASS = 200;

// The bytes a match from a node can begin with, and whether it can reach the end of the
// program without taking a byte.
struct FirstSet {
  std::uint64_t bits[4];
  bool empty;
  bool has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
};

// A set as 256 entries of 0 or 1, filled by whoever makes it.
struct Table {
  unsigned char byte[256];
  Table() {}  // left unfilled: every entry is written when the set is made
};

struct Frame {
  std::int32_t kind;
  std::int32_t node;
  std::int32_t pos;
  std::int32_t count;
};

}  // namespace regexp_internal

struct regexp {
  // Group positions of the last search, as offsets from the beginning of its text (-1: none).
  int startp[regexp_groups];
  int endp[regexp_groups];
  const char* textbase;

  // Search aids: a byte every match begins with (0: none), whether only the start of the
  // search can match, and a literal every match contains (offset in program, -1: none).
  unsigned char regstart;
  bool reganch;
  int regmust;
  int regmlen;
  // Every byte a match can begin with, when no match can be empty (first_count 0: none).
  std::array<unsigned char, 256> first;
  int first_count;
  int first_only;  // with first_count 1, that byte

  std::vector<unsigned char> program;
  std::vector<regexp_internal::Node> nodes;
  std::vector<regexp_internal::FirstSet> starts;  // per node; none when not worked out
  std::vector<regexp_internal::Table> tables;
  std::vector<regexp_internal::FirstSet> table_bits;  // the same sets as bits
  int top_group;  // the highest group number the program uses
  bool decoded;   // false when the node bytes did not decode (the error is logged at search)
  const char* decode_error;

  std::vector<regexp_internal::Frame> stack;  // backtracking state, kept between searches
};

namespace regexp_internal {

// Where one search keeps what it changes: the group positions it finds (regexp_groups
// each, as offsets from the beginning of its text) and its backtracking frames. A program
// searched with a state of the caller's is only read, so several threads may search it
// at once, each with a state of its own.
struct SearchState {
  int* startp;
  int* endp;
  std::vector<Frame>* stack;
};

// regexp_exec with the search's state in the caller's hands.
int exec(const regexp* prog, const SearchState& state, const char* text, int start, int end,
         int* match_end, long long* steps);

// A program made of the given bytes, as a compile would leave it (the search aids are
// worked out from the nodes). Its faults are reported when it is searched.
regexp* load(const unsigned char* program, int size);

// Sees every message the module logs, whether or not stdlog takes it.
typedef void (*ErrorObserver)(const char* message);
void set_error_observer(ErrorObserver observer);

// Longest backtracking state a search may keep, in frames.
const int stack_limit = 1 << 22;

}  // namespace regexp_internal

#endif
