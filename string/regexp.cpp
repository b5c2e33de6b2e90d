// regexp: the compiler (pattern to node program, in two passes: measure, then emit) and
// the matcher (backtracking over the decoded nodes, its state on an explicit stack).
#include "string/regexp.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "log/logger.h"
#include "string/internal/regexp_internal.h"

using namespace regexp_internal;

namespace {

LoggerGuard logger_guard;

ErrorObserver error_observer = nullptr;

void report(int line, const char* message) {
  if (error_observer) error_observer(message);
  QK_LOG_AT("regexp", line, ERROR) << message;
}

// ---------------------------------------------------------------------------------------
// The compiler.

// What the parser knows about what it has parsed.
const int WORST = 0;     // nothing known
const int HASWIDTH = 1;  // never matches the empty string
const int SIMPLE = 2;    // one byte wide: a star or plus node can repeat it
const int SPSTART = 4;   // begins with a piece repeated by * or ?

const int none = -1;   // no node
const int dummy = -2;  // a node of the measuring pass, which keeps no bytes

bool is_mult(unsigned char c) { return c == '*' || c == '+' || c == '?'; }
bool is_special(unsigned char c) {
  return c == '^' || c == '$' || c == '.' || c == '[' || c == '?' || c == '+' || c == '*' || c == '\\';
}

class Compiler {
 public:
  // code is nullptr for the measuring pass. A program that outgrows capacity bytes of
  // code turns the pass into a measuring one from there on (fits() then says false).
  Compiler(const unsigned char* pattern, unsigned char* code, int capacity)
      : parse_(pattern), code_(code), capacity_(capacity) {}

  // The whole program; false after an error (error() says which, at line()).
  bool run(int* flags) {
    byte(magic);
    reg(false, flags);
    return !error_;
  }
  int size() const { return size_; }
  // The whole program is in the code given.
  bool fits() const { return code_ != nullptr; }
  const char* error() const { return error_; }
  int line() const { return line_; }

 private:
  int fail(int line, const char* message) {
    if (!error_) {
      error_ = message;
      line_ = line;
    }
    return none;
  }
  bool at_escape(unsigned char c) const { return parse_[0] == '\\' && parse_[1] == c; }
  bool at_branch_end() const { return *parse_ == 0 || at_escape('|') || at_escape(')'); }

  int reg(bool paren, int* flagp);
  int branch(int* flagp);
  int piece(int* flagp);
  int atom(int* flagp);
  int set(int* flagp);
  int literal_run(int* flagp);

  // Makes room for n more bytes; a pass out of room goes on measuring.
  void room(int n) {
    if (code_ && size_ + n > capacity_) code_ = nullptr;
  }
  int node(unsigned char kind) {
    room(3);
    const int at = size_;
    size_ += 3;
    if (!code_) return dummy;
    code_[at] = kind;
    code_[at + 1] = 0;
    code_[at + 2] = 0;
    return at;
  }
  void byte(unsigned char c) {
    room(1);
    if (code_) code_[size_] = c;
    ++size_;
  }
  // Puts a node of kind in front of the operand that starts at operand.
  void insert(unsigned char kind, int operand) {
    room(3);
    const int end = size_;
    size_ += 3;
    if (!code_ || operand < 0) return;
    std::memmove(code_ + operand + 3, code_ + operand, static_cast<std::size_t>(end - operand));
    code_[operand] = kind;
    code_[operand + 1] = 0;
    code_[operand + 2] = 0;
  }
  int next_of(int p) const {
    const int offset = (code_[p + 1] << 8) | code_[p + 2];
    if (offset == 0) return none;
    return code_[p] == BACK ? p - offset : p + offset;
  }
  // Links the last node of the chain from p to val.
  void tail(int p, int val) {
    if (!code_ || p < 0) return;
    int scan = p;
    for (int t = next_of(scan); t != none; t = next_of(scan)) scan = t;
    const int offset = code_[scan] == BACK ? scan - val : val - scan;
    code_[scan + 1] = static_cast<unsigned char>((offset >> 8) & 0xFF);
    code_[scan + 2] = static_cast<unsigned char>(offset & 0xFF);
  }
  // tail on the operand of a branch node; nothing for other nodes.
  void optail(int p, int val) {
    if (!code_ || p < 0 || code_[p] != BRANCH) return;
    tail(p + 3, val);
  }

  const unsigned char* parse_;
  unsigned char* code_;
  int capacity_;
  int size_ = 0;
  int groups_ = 1;  // the next group number
  const char* error_ = nullptr;
  int line_ = 0;
};

// An expression: the top level (paren false) or the inside of a group, alternatives
// separated by \|.
int Compiler::reg(bool paren, int* flagp) {
  *flagp = HASWIDTH;
  int ret = none;
  int group = 0;
  if (paren) {
    if (groups_ >= regexp_groups) return fail(__LINE__, "too many ()");
    group = groups_++;
    ret = node(static_cast<unsigned char>(OPEN + group));
  }
  int flags;
  int br = branch(&flags);
  if (error_) return none;
  if (ret != none)
    tail(ret, br);
  else
    ret = br;
  if (!(flags & HASWIDTH)) *flagp &= ~HASWIDTH;
  *flagp |= flags & SPSTART;
  while (at_escape('|')) {
    parse_ += 2;
    br = branch(&flags);
    if (error_) return none;
    tail(ret, br);
    if (!(flags & HASWIDTH)) *flagp &= ~HASWIDTH;
    *flagp |= flags & SPSTART;
  }
  const int ender = node(paren ? static_cast<unsigned char>(CLOSE + group) : static_cast<unsigned char>(END));
  tail(ret, ender);
  if (code_)
    for (int b = ret; b != none; b = next_of(b)) optail(b, ender);
  if (paren) {
    if (!at_escape(')')) return fail(__LINE__, "unmatched ()");
    parse_ += 2;
  } else if (*parse_ != 0) {
    if (at_escape(')')) return fail(__LINE__, "unmatched ()");
    return fail(__LINE__, "junk on end");
  }
  return ret;
}

// One alternative: a chain of pieces.
int Compiler::branch(int* flagp) {
  *flagp = WORST;
  const int ret = node(BRANCH);
  int chain = none;
  bool empty = true;
  while (!at_branch_end()) {
    int flags;
    const int latest = piece(&flags);
    if (error_) return none;
    *flagp |= flags & HASWIDTH;
    if (empty)
      *flagp |= flags & SPSTART;
    else
      tail(chain, latest);
    chain = latest;
    empty = false;
  }
  if (empty) node(NOTHING);
  return ret;
}

// An atom and the *, + or ? after it.
int Compiler::piece(int* flagp) {
  int flags;
  const int ret = atom(&flags);
  if (error_) return none;
  const unsigned char op = *parse_;
  if (!is_mult(op)) {
    *flagp = flags;
    return ret;
  }
  if (!(flags & HASWIDTH) && op != '?') return fail(__LINE__, "*+ operand could be empty");
  *flagp = op != '+' ? (WORST | SPSTART) : (WORST | HASWIDTH);
  if (op == '*' && (flags & SIMPLE)) {
    insert(STAR, ret);
  } else if (op == '*') {
    // x* is a branch between x followed by a loop back, and nothing.
    insert(BRANCH, ret);
    optail(ret, node(BACK));
    optail(ret, ret);
    tail(ret, node(BRANCH));
    tail(ret, node(NOTHING));
  } else if (op == '+' && (flags & SIMPLE)) {
    insert(PLUS, ret);
  } else if (op == '+') {
    // x+ is x followed by the loop of x*.
    const int next = node(BRANCH);
    tail(ret, next);
    tail(node(BACK), ret);
    tail(next, node(BRANCH));
    tail(ret, node(NOTHING));
  } else {
    // x? is a branch between x and nothing.
    insert(BRANCH, ret);
    tail(ret, node(BRANCH));
    const int next = node(NOTHING);
    tail(ret, next);
    optail(ret, next);
  }
  ++parse_;
  if (is_mult(*parse_)) return fail(__LINE__, "nested *?+");
  return ret;
}

int Compiler::atom(int* flagp) {
  *flagp = WORST;
  const unsigned char c = *parse_;
  switch (c) {
    case '^':
      ++parse_;
      return node(BOL);
    case '$':
      ++parse_;
      return node(EOL);
    case '.':
      ++parse_;
      *flagp |= HASWIDTH | SIMPLE;
      return node(ANY);
    case '[':
      ++parse_;
      return set(flagp);
    case '?':
    case '+':
    case '*':
      return fail(__LINE__, "?+* follows nothing");
    case 0:
      return fail(__LINE__, "internal urp");
    case '\\': {
      const unsigned char d = parse_[1];
      if (d == 0) return fail(__LINE__, "trailing \\");
      if (d == '|' || d == ')') return fail(__LINE__, "internal urp");
      if (d == '(') {
        parse_ += 2;
        int flags;
        const int ret = reg(true, &flags);
        if (error_) return none;
        *flagp |= flags & (HASWIDTH | SPSTART);
        return ret;
      }
      return literal_run(flagp);
    }
    default:
      return literal_run(flagp);
  }
}

// [set] or [^set], after the opening bracket.
int Compiler::set(int* flagp) {
  int ret;
  if (*parse_ == '^') {
    ret = node(ANYBUT);
    ++parse_;
  } else {
    ret = node(ANYOF);
  }
  if (*parse_ == ']' || *parse_ == '-') byte(*parse_++);
  while (*parse_ != 0 && *parse_ != ']') {
    if (*parse_ != '-') {
      byte(*parse_++);
      continue;
    }
    ++parse_;
    if (*parse_ == ']' || *parse_ == 0) {
      byte('-');
      continue;
    }
    // x-y: x is already a member.
    int from = parse_[-2] + 1;
    const int to = *parse_;
    if (from > to + 1) return fail(__LINE__, "invalid [] range");
    for (; from <= to; ++from) byte(static_cast<unsigned char>(from));
    ++parse_;
  }
  byte(0);
  if (*parse_ != ']') return fail(__LINE__, "unmatched []");
  ++parse_;
  *flagp |= HASWIDTH | SIMPLE;
  return ret;
}

// A run of ordinary bytes, escaped ones included. When *, + or ? follows a run of more
// than one byte, the run ends before its last byte so that the operator takes that alone.
int Compiler::literal_run(int* flagp) {
  const unsigned char* p = parse_;
  const unsigned char* last = p;
  int count = 0;
  for (;;) {
    const unsigned char c = *p;
    if (c == 0) break;
    if (c == '\\') {
      const unsigned char d = p[1];
      if (d == 0 || d == '(' || d == ')' || d == '|') break;
      last = p;
      p += 2;
    } else if (is_special(c)) {
      break;
    } else {
      last = p;
      ++p;
    }
    ++count;
  }
  if (count <= 0) return fail(__LINE__, "internal disaster");
  if (count > 1 && is_mult(*p)) {
    p = last;
    --count;
  }
  const int ret = node(EXACTLY);
  while (parse_ < p) {
    if (*parse_ == '\\') ++parse_;
    byte(*parse_++);
  }
  byte(0);
  *flagp |= HASWIDTH;
  if (count == 1) *flagp |= SIMPLE;
  return ret;
}

// ---------------------------------------------------------------------------------------
// Decoding the node bytes and working out the search aids.

int node_next(const unsigned char* code, int p) {
  const int offset = (code[p + 1] << 8) | code[p + 2];
  if (offset == 0) return none;
  return code[p] == BACK ? p - offset : p + offset;
}

bool known_kind(unsigned char kind) {
  return kind <= NOTHING + 2 || (kind > OPEN && kind < OPEN + regexp_groups) ||
         (kind > CLOSE && kind < CLOSE + regexp_groups);
}

// The 256 bits of a set as 256 bytes of 0 or 1, eight at a time.
void expand(const FirstSet& bits, unsigned char* table) {
  struct Patterns {
    std::uint64_t of[256];
    Patterns() {
      for (int b = 0; b < 256; ++b) {
        unsigned char bytes[8];
        for (int k = 0; k < 8; ++k) bytes[k] = (b >> k) & 1;
        std::memcpy(&of[b], bytes, 8);
      }
    }
  };
  static const Patterns patterns;
  for (int w = 0; w < 4; ++w) {
    std::uint64_t word = bits.bits[w];
    for (int k = 0; k < 8; ++k, word >>= 8) std::memcpy(table + w * 64 + k * 8, &patterns.of[word & 0xFF], 8);
  }
}

// A byte set (never holding NUL) as a table for the matcher; returns its index.
int add_table(regexp* r, FirstSet bits) {
  bits.bits[0] &= ~std::uint64_t(1);
  bits.empty = false;
  r->tables.emplace_back();
  expand(bits, r->tables.back().byte);
  r->table_bits.push_back(bits);
  return static_cast<int>(r->tables.size()) - 1;
}

// Reads the node bytes into r->nodes; false with r->decode_error set when they do not make
// a program.
bool decode(regexp* r) {
  const std::vector<unsigned char>& program = r->program;
  const int size = static_cast<int>(program.size());
  const unsigned char* code = program.data();
  // Node index by byte offset; on the stack for the usual small program.
  int small_index[512];
  std::vector<int> large_index;
  int* index = small_index;
  if (program.size() > sizeof small_index / sizeof small_index[0]) {
    large_index.resize(program.size());
    index = large_index.data();
  }
  std::fill(index, index + program.size(), none);
  r->nodes.clear();
  r->tables.clear();
  r->table_bits.clear();
  r->top_group = 0;
  // Room for every node and set at once: a program is read at each compile.
  int nodes = 0, sets = 0;
  for (int p = 1; p + 3 <= size; ++nodes) {
    const unsigned char kind = code[p];
    p += 3;
    if (kind == ANYOF || kind == ANYBUT || kind == EXACTLY) {
      while (p < size && code[p]) ++p;
      ++p;
    }
    sets += kind == ANYOF || kind == ANYBUT || kind == ANY;
  }
  r->nodes.reserve(static_cast<std::size_t>(nodes));
  r->tables.reserve(static_cast<std::size_t>(sets));
  r->table_bits.reserve(static_cast<std::size_t>(sets));
  // First the node starts, then the links between them.
  for (int p = 1; p < size;) {
    if (p + 3 > size) {
      r->decode_error = "corrupted pointers";
      return false;
    }
    const unsigned char kind = code[p];
    if (!known_kind(kind) || kind > 89) {
      r->decode_error = "memory corruption";
      return false;
    }
    index[static_cast<std::size_t>(p)] = static_cast<int>(r->nodes.size());
    Node n{};
    n.kind = kind;
    n.next = none;
    n.operand = none;
    n.follow = -1;
    int q = p + 3;
    if (kind == ANYOF || kind == ANYBUT || kind == EXACTLY) {
      const void* nul = std::memchr(code + q, 0, static_cast<std::size_t>(size - q));
      if (!nul) {
        r->decode_error = "corrupted pointers";
        return false;
      }
      const int length = static_cast<int>(static_cast<const unsigned char*>(nul) - (code + q));
      if (kind == EXACTLY) {
        n.operand = q;
        n.length = length;
      } else {
        FirstSet bits{};
        for (int i = 0; i < length; ++i) bits.bits[code[q + i] >> 6] |= std::uint64_t(1) << (code[q + i] & 63);
        if (kind == ANYBUT)
          for (auto& word : bits.bits) word = ~word;
        n.operand = add_table(r, bits);
        n.kind = CLASS;
      }
      q += length + 1;
    } else if (kind == ANY) {
      const std::uint64_t all = ~std::uint64_t(0);
      n.operand = add_table(r, FirstSet{{all, all, all, all}, false});
      n.kind = CLASS;
    } else if (kind > OPEN && kind < OPEN + regexp_groups) {
      n.kind = OPEN;
      n.group = static_cast<unsigned char>(kind - OPEN);
    } else if (kind > CLOSE && kind < CLOSE + regexp_groups) {
      n.kind = CLOSE;
      n.group = static_cast<unsigned char>(kind - CLOSE);
    }
    if (n.group > r->top_group) r->top_group = n.group;
    r->nodes.push_back(n);
    p = q;
  }
  if (r->nodes.empty()) {
    r->decode_error = "corrupted pointers";
    return false;
  }
  auto resolve = [&](int p) { return p >= 0 && p < size ? index[static_cast<std::size_t>(p)] : none; };
  for (int p = 1, i = 0; p < size; ++i) {
    Node& n = r->nodes[static_cast<std::size_t>(i)];
    const int target = node_next(code, p);
    if (target != none) {
      n.next = resolve(target);
      if (n.next == none) {
        r->decode_error = "corrupted pointers";
        return false;
      }
    }
    const unsigned char kind = code[p];
    if (kind == BRANCH || kind == STAR || kind == PLUS) {
      n.operand = resolve(p + 3);
      if (n.operand == none) {
        r->decode_error = "corrupted pointers";
        return false;
      }
    }
    // The next node's index is the following one, so the byte offset is found again by
    // walking the same way as above.
    int q = p + 3;
    if (kind == ANYOF || kind == ANYBUT || kind == EXACTLY)
      q += static_cast<int>(std::strlen(reinterpret_cast<const char*>(code + q))) + 1;
    p = q;
  }
  for (Node& n : r->nodes) {
    if (n.kind != STAR && n.kind != PLUS) continue;
    const Node& operand = r->nodes[static_cast<std::size_t>(n.operand)];
    if (operand.kind != CLASS && operand.kind != EXACTLY) {
      r->decode_error = "internal foulup";
      return false;
    }
    n.min = n.kind == PLUS ? 1 : 0;
    if (n.next != none) {
      const Node& after = r->nodes[static_cast<std::size_t>(n.next)];
      if (after.kind == EXACTLY && after.length > 0) n.follow = code[after.operand];
    }
  }
  return true;
}

// The bytes a match from each node can begin with, and whether it can reach the end
// without taking a byte; worked out over all nodes until nothing changes.

bool operator!=(const FirstSet& a, const FirstSet& o) {
  return a.empty != o.empty || a.bits[0] != o.bits[0] || a.bits[1] != o.bits[1] || a.bits[2] != o.bits[2] ||
         a.bits[3] != o.bits[3];
}

void add(FirstSet& a, const FirstSet& o) {
  for (int k = 0; k < 4; ++k) a.bits[k] |= o.bits[k];
  a.empty = a.empty || o.empty;
}

void add_byte(FirstSet& a, unsigned char c) { a.bits[c >> 6] |= std::uint64_t(1) << (c & 63); }

FirstSet one_byte_node(const regexp* r, const Node& n) {
  FirstSet f{};
  if (n.kind == CLASS) {
    f = r->table_bits[static_cast<std::size_t>(n.operand)];
  } else if (n.kind == EXACTLY && n.length > 0) {
    add_byte(f, r->program[static_cast<std::size_t>(n.operand)]);
  }
  return f;
}

void find_first_bytes(regexp* r) {
  r->first_count = 0;
  const int count = static_cast<int>(r->nodes.size());
  std::vector<FirstSet> f(static_cast<std::size_t>(count), FirstSet{});
  // A chain that ends without an end node is broken: anything may follow, so that the
  // matcher reaches the break and reports it.
  const FirstSet broken{{~std::uint64_t(0), ~std::uint64_t(0), ~std::uint64_t(0), ~std::uint64_t(0)}, true};
  auto at = [&](int i) { return i >= 0 ? f[static_cast<std::size_t>(i)] : broken; };
  // Links lead to later nodes, except a back node's: without loops one pass from the last
  // node to the first settles every set.
  bool loops = false;
  for (const Node& n : r->nodes) loops = loops || n.kind == BACK;
  // With loops, the sets grow round by round until a round changes none of them.
  bool settled = false;
  for (int round = 0; round < 64 && !settled; ++round) {
    bool changed = false;
    for (int i = count - 1; i >= 0; --i) {
      const Node& n = r->nodes[static_cast<std::size_t>(i)];
      FirstSet v{};
      switch (n.kind) {
        case END:
          v.empty = true;
          break;
        case CLASS:
          v = one_byte_node(r, n);
          break;
        case EXACTLY:
          v = n.length > 0 ? one_byte_node(r, n) : at(n.next);
          break;
        case BRANCH:
          v = at(n.operand);
          if (n.next >= 0 && r->nodes[static_cast<std::size_t>(n.next)].kind == BRANCH) add(v, at(n.next));
          break;
        case STAR:
          v = one_byte_node(r, r->nodes[static_cast<std::size_t>(n.operand)]);
          add(v, at(n.next));
          break;
        case PLUS:
          v = one_byte_node(r, r->nodes[static_cast<std::size_t>(n.operand)]);
          break;
        default:  // the anchors, nothing, back, open and close take no byte
          v = at(n.next);
          break;
      }
      if (v != f[static_cast<std::size_t>(i)]) {
        f[static_cast<std::size_t>(i)] = v;
        changed = true;
      }
    }
    settled = !loops || !changed;
  }
  if (!settled) return;
  r->starts = std::move(f);
  const FirstSet& start = r->starts[0];
  if (start.empty) return;
  expand(start, r->first.data());
  for (const std::uint64_t word : start.bits)
    for (std::uint64_t w = word; w; w &= w - 1) ++r->first_count;
  if (r->first_count == 1)
    for (int c = 1; c < 256; ++c)
      if (r->first[static_cast<std::size_t>(c)]) r->first_only = c;
}

// Which nodes begin a rest of the program that cannot fail (Node::sure): the end, what
// leads to it without taking a byte, and an alternation with such an alternative. Worked
// out from "none" upwards, so that a loop on its own never counts as sure.
void find_sure_nodes(regexp* r) {
  std::vector<Node>& nodes = r->nodes;
  auto sure = [&](int i) { return i >= 0 && nodes[static_cast<std::size_t>(i)].sure; };
  // As for the first bytes: without a back node every link leads to a later node, and one
  // pass from the last node to the first settles them all.
  bool loops = false;
  for (const Node& n : nodes) loops = loops || n.kind == BACK;
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = nodes.size(); i-- > 0;) {
      Node& n = nodes[i];
      if (n.sure) continue;
      bool v = false;
      switch (n.kind) {
        case END:
          v = true;
          break;
        case NOTHING:
        case BACK:
        case OPEN:
        case CLOSE:
          v = sure(n.next);
          break;
        case EXACTLY:
          v = n.length == 0 && sure(n.next);
          break;
        case BRANCH:
          v = sure(n.operand) || (n.next >= 0 && nodes[static_cast<std::size_t>(n.next)].kind == BRANCH && sure(n.next));
          break;
        case STAR:
          v = n.follow < 0 && sure(n.next);
          break;
        default:  // a byte to take, or a place to be at
          break;
      }
      if (v) {
        n.sure = true;
        changed = loops;
      }
    }
  }
}

// The three aids of a program with exactly one top-level alternative.
void set_aids(regexp* r, int flags) {
  r->regstart = 0;
  r->reganch = false;
  r->regmust = none;
  r->regmlen = 0;
  const unsigned char* code = r->program.data();
  const int size = static_cast<int>(r->program.size());
  if (size < 4 || code[1] != BRANCH) return;
  const int after = node_next(code, 1);
  if (after == none || after + 3 > size || code[after] != END) return;
  const int scan = 4;  // the operand of the first branch
  if (scan + 3 > size) return;
  if (code[scan] == EXACTLY)
    r->regstart = code[scan + 3];
  else if (code[scan] == BOL)
    r->reganch = true;
  if (flags & SPSTART) {
    for (int p = scan; p != none && p + 3 <= size; p = node_next(code, p)) {
      if (code[p] != EXACTLY) continue;
      const int length = static_cast<int>(std::strlen(reinterpret_cast<const char*>(code + p + 3)));
      if (length >= r->regmlen) {
        r->regmust = p + 3;
        r->regmlen = length;
      }
    }
  }
}

regexp* make_program(std::vector<unsigned char> program, int flags) {
  regexp* r = new regexp();
  r->program = std::move(program);
  for (int g = 0; g < regexp_groups; ++g) r->startp[g] = r->endp[g] = -1;
  r->textbase = nullptr;
  r->decode_error = nullptr;
  r->decoded = decode(r);
  set_aids(r, flags);
  if (r->decoded) {
    find_first_bytes(r);
    find_sure_nodes(r);
  }
  return r;
}

// ---------------------------------------------------------------------------------------
// The matcher.

enum FrameKind { ALTERNATIVE, REPEAT, UNDO_START, UNDO_END };

const char* const too_many_steps = "match step limit exceeded";
const char* const too_deep = "match stack limit exceeded";

class Matcher {
 public:
  Matcher(const regexp* r, const SearchState& state, const unsigned char* text, int bol, int end,
          long long steps)
      : state_(state),
        nodes_(r->nodes.data()),
        starts_(r->starts.empty() ? nullptr : r->starts.data()),
        tables_(r->tables.data()),
        program_(r->program.data()),
        text_(text),
        bol_(bol),
        end_(end),
        steps_(steps) {}

  // The steps left of the budget.
  long long steps() const { return steps_; }
  // Takes one step; false when the budget is used up.
  bool spend() { return --steps_ >= 0; }

  // One try at pos: 1 matched (*match_end set), 0 not, -2 after a logged error.
  int run(int pos, int* match_end);

 private:
  // False, after logging, when the search may keep no more state.
  bool push(int kind, int node, int pos, int count) {
    std::vector<Frame>& stack = *state_.stack;
    if (stack.size() >= static_cast<std::size_t>(stack_limit)) {
      report(__LINE__, too_deep);
      return false;
    }
    stack.push_back(Frame{kind, node, pos, count});
    return true;
  }
  // A choice point. When the rest of the match cannot fail once the matcher comes back to
  // it, no earlier choice is ever taken again, nor are group positions restored past it:
  // their frames go, so that a repetition before such a rest keeps no state per round.
  bool push_choice(int kind, int node, int pos, int count, bool sure) {
    if (sure) state_.stack->clear();
    return push(kind, node, pos, count);
  }
  bool sure(int n) const { return n >= 0 && nodes_[n].sure; }
  // Whether a match from node n can begin at pos.
  bool can_begin(int n, int pos) const {
    if (starts_ == nullptr) return true;
    const FirstSet& f = starts_[n];
    return f.empty || (pos < end_ && f.has(text_[pos]));
  }
  // Branch b, or the first branch after it in its alternation, whose alternative can
  // begin at pos; -1 when none can. A branch not followed by another is the only one.
  int viable(int b, int pos) const {
    for (;;) {
      if (can_begin(nodes_[b].operand, pos)) return b;
      b = nodes_[b].next;
      if (b < 0 || nodes_[b].kind != BRANCH) return -1;
    }
  }
  int viable_after(int b, int pos) const {
    const int next = nodes_[b].next;
    if (next < 0 || nodes_[next].kind != BRANCH) return -1;
    return viable(next, pos);
  }
  // Run length of the one-byte node n from pos.
  int repeat(const Node& n, int pos) const {
    const unsigned char* s = text_ + pos;
    const unsigned char* e = text_ + end_;
    if (n.kind == CLASS) {
      const unsigned char* table = tables_[n.operand].byte;
      while (s < e && table[*s]) ++s;
    } else {
      const unsigned char c = program_[n.operand];
      while (s < e && *s == c) ++s;
    }
    return static_cast<int>(s - (text_ + pos));
  }
  // The largest count from count down to min after which the following byte fits.
  int back_off(const Node& n, int pos, int count) {
    if (n.follow < 0) return count;
    while (count >= n.min) {
      --steps_;
      if (pos + count < end_ && text_[pos + count] == n.follow) return count;
      --count;
    }
    return count;
  }

  SearchState state_;
  const Node* nodes_;
  const FirstSet* starts_;
  const Table* tables_;
  const unsigned char* program_;
  const unsigned char* text_;
  int bol_;
  int end_;
  long long steps_;
};

int Matcher::run(int pos, int* match_end) {
  state_.stack->clear();
  // A program of one alternative has no choice to make at its first branch.
  const Node& first = nodes_[0];
  int n = first.kind == BRANCH && (first.next < 0 || nodes_[first.next].kind != BRANCH) &&
                  can_begin(first.operand, pos)
              ? first.operand
              : 0;
  for (;;) {
    // Forward from node n at pos until the program ends or the node fails.
    bool failed = false;
    while (!failed) {
      if (--steps_ < 0) {
        report(__LINE__, too_many_steps);
        return -2;
      }
      const Node& node = nodes_[n];
      switch (node.kind) {
        case END:
          *match_end = pos;
          return 1;
        case BOL:
          failed = pos != bol_;
          break;
        case EOL:
          failed = pos != end_;
          break;
        case CLASS:
          if (pos < end_ && tables_[node.operand].byte[text_[pos]])
            ++pos;
          else
            failed = true;
          break;
        case EXACTLY:
          if (end_ - pos >= node.length &&
              std::memcmp(text_ + pos, program_ + node.operand, static_cast<std::size_t>(node.length)) == 0)
            pos += node.length;
          else
            failed = true;
          break;
        case NOTHING:
        case BACK:
          break;
        case OPEN:
        case CLOSE: {
          int* slots = node.kind == OPEN ? state_.startp : state_.endp;
          if (!push(node.kind == OPEN ? UNDO_START : UNDO_END, node.group, slots[node.group], 0)) return -2;
          slots[node.group] = pos;
          break;
        }
        case BRANCH: {
          // The first alternative that can begin here; a choice point for the next one.
          const int b = viable(n, pos);
          if (b < 0) {
            failed = true;
            break;
          }
          const int later = viable_after(b, pos);
          if (later >= 0 && !push_choice(ALTERNATIVE, later, pos, 0, sure(later))) return -2;
          n = nodes_[b].operand;
          continue;
        }
        case STAR:
        case PLUS: {
          const int run_length = repeat(nodes_[node.operand], pos);
          steps_ -= run_length;
          const int count = back_off(node, pos, run_length);
          if (count < node.min) {
            failed = true;
            break;
          }
          if (count > node.min && !push_choice(REPEAT, n, pos, count, sure(node.next))) return -2;
          pos += count;
          break;
        }
        default:
          report(__LINE__, "memory corruption");
          return -2;
      }
      if (failed) break;
      if (node.next < 0) {
        report(__LINE__, "corrupted pointers");
        return -2;
      }
      n = node.next;
    }
    // Back to the latest choice, undoing group positions on the way.
    std::vector<Frame>& stack = *state_.stack;
    for (;;) {
      if (stack.empty()) return 0;
      Frame& f = stack.back();
      if (f.kind == UNDO_START) {
        state_.startp[f.node] = f.pos;
        stack.pop_back();
      } else if (f.kind == UNDO_END) {
        state_.endp[f.node] = f.pos;
        stack.pop_back();
      } else if (f.kind == ALTERNATIVE) {
        const Node& b = nodes_[f.node];
        pos = f.pos;
        const int later = viable_after(f.node, pos);
        if (later < 0) {
          stack.pop_back();
        } else {
          f.node = later;  // the alternative after this one, from the same position
          if (sure(later) && stack.size() > 1) {
            const Frame kept = f;
            stack.assign(1, kept);
          }
        }
        n = b.operand;
        break;
      } else {
        const Node& repeat_node = nodes_[f.node];
        --steps_;
        const int count = back_off(repeat_node, f.pos, f.count - 1);
        if (count < repeat_node.min) {
          stack.pop_back();
          continue;
        }
        pos = f.pos + count;
        n = repeat_node.next;
        if (count > repeat_node.min)
          f.count = count;
        else
          stack.pop_back();
        if (n < 0) {
          report(__LINE__, "corrupted pointers");
          return -2;
        }
        break;
      }
    }
  }
}

// The first occurrence of the n bytes of must in text[start, end), or -1.
int find_text(const unsigned char* text, int start, int end, const unsigned char* must, int n) {
  if (n == 0) return start;
  for (int p = start; end - p >= n;) {
    const void* hit = std::memchr(text + p, must[0], static_cast<std::size_t>(end - p - n + 1));
    if (!hit) return -1;
    p = static_cast<int>(static_cast<const unsigned char*>(hit) - text);
    if (std::memcmp(text + p, must, static_cast<std::size_t>(n)) == 0) return p;
    ++p;
  }
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------------------

regexp* regexp_compile(const char* pattern) {
  if (!pattern) {
    report(__LINE__, "nil argument");
    return nullptr;
  }
  const unsigned char* text = reinterpret_cast<const unsigned char*>(pattern);
  int flags = 0;
  // The usual program is made in one pass into a buffer on the stack; a larger one is
  // measured by that pass and made by a second.
  unsigned char small[1024];
  Compiler first(text, small, static_cast<int>(sizeof small));
  if (!first.run(&flags)) {
    report(first.line(), first.error());
    return nullptr;
  }
  if (first.size() >= program_limit) {
    report(__LINE__, "regexp too big");
    return nullptr;
  }
  if (first.fits()) return make_program(std::vector<unsigned char>(small, small + first.size()), flags);
  std::vector<unsigned char> program(static_cast<std::size_t>(first.size()));
  Compiler emit(text, program.data(), first.size());
  if (!emit.run(&flags)) {  // the same pattern parsed the same way
    report(emit.line(), emit.error());
    return nullptr;
  }
  return make_program(std::move(program), flags);
}

void regexp_free(regexp* prog) { delete prog; }

const char* regexp_check(const char* pattern) {
  if (!pattern) return "nil argument";
  int flags = 0;
  Compiler measure(reinterpret_cast<const unsigned char*>(pattern), nullptr, 0);  // measures only
  if (!measure.run(&flags)) return measure.error();
  return measure.size() >= program_limit ? "regexp too big" : nullptr;
}

long long regexp_step_budget(int length) { return 10000000LL + 64LL * (length > 0 ? length : 0); }

int regexp_exec(regexp* r, const char* text, int start, int end, int* match_end, long long* steps) {
  if (r) r->textbase = text;
  return regexp_internal::exec(r, SearchState{r ? r->startp : nullptr, r ? r->endp : nullptr,
                                              r ? &r->stack : nullptr},
                               text, start, end, match_end, steps);
}

int regexp_internal::exec(const regexp* r, const SearchState& state, const char* text, int start,
                          int end, int* match_end, long long* steps) {
  if (!r || !text) {
    report(__LINE__, "nil parameter");
    return -2;
  }
  if (r->program.empty() || r->program[0] != magic) {
    report(__LINE__, "corrupted program");
    return -2;
  }
  if (!r->decoded) {
    report(__LINE__, r->decode_error ? r->decode_error : "corrupted program");
    return -2;
  }
  // Groups above the highest that the program has are never set.
  int* const startp = state.startp;
  int* const endp = state.endp;
  for (int g = 0; g <= r->top_group; ++g) startp[g] = endp[g] = -1;
  if (start < 0 || end < start) return -1;
  long long own_steps = regexp_step_budget(end - start);
  long long& budget = steps ? *steps : own_steps;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  if (r->regmust >= 0 && find_text(s, start, end, r->program.data() + r->regmust, r->regmlen) < 0) return -1;

  Matcher matcher(r, state, s, start, end, budget);
  // However the search ends, its steps come off the caller's budget, and the backtracking
  // state of an unusually deep search is not kept for the next one.
  struct Finish {
    long long& budget;
    const Matcher& matcher;
    std::vector<Frame>& stack;
    ~Finish() {
      budget = matcher.steps();
      if (stack.capacity() > 4096) std::vector<Frame>().swap(stack);
    }
  } finish{budget, matcher, *state.stack};
  const int groups = r->top_group;
  int found = -1;
  int stop = 0;
  auto attempt = [&](int p) {
    for (int g = 1; g <= groups; ++g) startp[g] = endp[g] = -1;
    const int result = matcher.run(p, &stop);
    if (result == 1) found = p;
    return result;
  };
  int result = 0;
  if (r->reganch) {
    result = attempt(start);
  } else if (r->first_count == 1 || r->regstart) {
    const int only = r->regstart ? r->regstart : r->first_only;
    for (int p = start; p < end && result == 0;) {
      const void* hit = std::memchr(s + p, only, static_cast<std::size_t>(end - p));
      if (!hit) break;
      p = static_cast<int>(static_cast<const unsigned char*>(hit) - s);
      result = attempt(p);
      ++p;
    }
  } else if (r->first_count > 0) {
    const unsigned char* first = r->first.data();
    for (int p = start; p < end && result == 0; ++p) {
      if (!first[s[p]]) continue;
      result = attempt(p);
      if (!matcher.spend() && result == 0) {
        report(__LINE__, too_many_steps);
        return -2;
      }
    }
  } else {
    for (int p = start; p <= end && result == 0; ++p) result = attempt(p);
  }
  if (result < 0) {
    for (int g = 0; g < regexp_groups; ++g) startp[g] = endp[g] = -1;
    return -2;
  }
  if (found < 0) return -1;
  startp[0] = found;
  endp[0] = stop;
  if (match_end) *match_end = stop;
  return found;
}

bool regexp_group(const regexp* r, int n, int* start, int* end) {
  int s = -1, e = -1;
  if (r && n >= 0 && n < regexp_groups && r->startp[n] >= 0 && r->endp[n] >= 0) {
    s = r->startp[n];
    e = r->endp[n];
  }
  if (start) *start = s;
  if (end) *end = e;
  return s >= 0;
}

void regexp_set_match_start(regexp* r, int start) {
  if (r) r->startp[0] = start;
}

namespace regexp_internal {

regexp* load(const unsigned char* program, int size) {
  std::vector<unsigned char> bytes(program, program + (size > 0 ? size : 0));
  if (bytes.empty() || bytes[0] != magic) {
    regexp* r = new regexp();
    r->program = std::move(bytes);
    for (int g = 0; g < regexp_groups; ++g) r->startp[g] = r->endp[g] = -1;
    r->decoded = false;
    r->regmust = -1;
    return r;
  }
  // The flags that decide the must-have text: a first piece repeated by * or ?.
  return make_program(std::move(bytes), SPSTART);
}

void set_error_observer(ErrorObserver observer) { error_observer = observer; }

}  // namespace regexp_internal
