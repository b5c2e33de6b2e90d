// Internals shared by the string module's source files and its tests.
#ifndef QK_STRING_INTERNAL_STRING_INTERNAL_H
#define QK_STRING_INTERNAL_STRING_INTERNAL_H

#include <cstdint>

#include "memory/allocator.h"
#include "string/StringRep.h"

namespace string_internal {

// The calling thread's pool of a size class (0: 32 bytes ... 6: 2048 bytes), made on first
// request. Each thread has a set of pools of its own, made at its first request and left
// when it ends, for the next thread to take over. The first set's pools bear the names
// "String32" ... "String2048" ("String556" for 512 bytes); the pools of the n-th set made
// after it bear "#n" behind that name ("String64#1").
ALLOCATOR_QK& pool(int size_class);
// The calling thread's pool for representations of this capacity, or nullptr for the C
// heap (and for pools not made yet).
ALLOCATOR_QK* pool_for_capacity(std::int32_t capacity);
// The pool the representation came from and goes back to (another thread's, perhaps), or
// nullptr for the C heap.
ALLOCATOR_QK* pool_of(const StringRep* rep);
extern const char* const pool_names[StringRep::pooled_classes];

// After every change of a representation while the trace switch is on.
void trace_check(StringRep* rep);
// The trace pattern glob: "?" takes one byte, "*" a run of bytes (no backtracking). A
// mismatching byte, or text left over, stops the whole check; a text used up before the
// pattern is no match (the slot's record is emptied).
enum TraceMatch { TRACE_STOP, TRACE_NO_MATCH, TRACE_MATCH };
TraceMatch trace_pattern_match(const char* pattern, const char* text, int length);
// Stores text in the trace slot's record, reusing the record when it is big enough.
void store_trace(void*& slot, const char* text);
// Empties the trace slot's record, if there is one.
void clear_trace(void* slot);

// Sees every record the module makes, whether or not stdlog takes it.
typedef void (*ReportObserver)(int level, const char* text);
void set_report_observer(ReportObserver observer);

// Bob Jenkins' 1996 hash of length bytes with the initial value initval.
std::uint32_t jenkins_hash(const unsigned char* bytes, std::uint32_t length, std::uint32_t initval);

// Length of the UTF-8 character at p (1 to 4), 0 at end (p == end, when end is given) or at
// a NUL, -1 when no valid character starts there (a lead byte of no class, a following
// byte not 10xxxxxx, or a value whose low 16 bits are 0xFFFE, 0xFFFF or a surrogate).
// Logs nothing: utf8_char_length logs its records on top of it, and the pattern search
// uses it where a record for every byte it looks at would be noise.
int utf8_sequence_length(const unsigned char* p, const unsigned char* end);

}  // namespace string_internal

#endif
