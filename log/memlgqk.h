// MEMORY_LGQK: the block of shared memory through which all processes of an installation
// log. It holds the table of log files with their numbering and counters, the run-time
// filter table that another program may fill to raise the logging of chosen processes or
// source files, the log directory chosen by the first process, and a time offset for the
// log-file headers. The named mutex "QK_SEM%08x" (the installation key) serialises every
// change of the file table and every log write.
//
//   MEMORY_LGQK* block = memlgqk_create(mode);    // once, from the logger's start-up
//   memlgqk_lock();
//   ... read or change block->files ...
//   memlgqk_unlock();
//   if (memlgqk_filter_passes(block, "Brimvale", rank, pid, name)) ...
//
// A process that does not share (a log mode other than standard, or no key while
// QK_LOG_NOKEY is set) gets a private block of the same layout in its own heap.
//
// The layout below is what every process and every other program of the installation
// reads and writes: 10776 bytes, little-endian, the same on every build. Other programs
// write into it, so its texts are read only within their fields and its numbers are
// checked before use.
#ifndef QK_LOG_MEMLGQK_H
#define QK_LOG_MEMLGQK_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/syserror/system_error.h"

const int LOG_FILE_HOLDERS = 8;  // process ids an entry keeps of its opens

// One entry of the file table, 204 bytes: a directory and a numbered file pattern that
// every process of the block shares.
struct LogFileTableEntry {
  char directory[64];          // relative to the log directory ("." for stdlog)
  char pattern[64];            // the expanded pattern ("stdlog.%1"); empty: a free entry
  std::uint32_t options;       // low 16 bits of the options of the first open
  std::int32_t open_count;     // opens minus closes, plus 10000 per setFileLimit
  std::int32_t file_number;    // current file number, counting up without bound
  std::int32_t start_time;     // seconds since 1970 when the current file was begun
  std::int32_t records;        // records written into the current file
  std::int32_t reserved1;      // 0 at the first open
  std::int32_t size_limit;     // bytes; 0 or less: no size rule
  std::int32_t max_records;    // records per file; -1: none
  std::int32_t file_days;      // days per file; -1: none
  // In the 40 bytes the layout leaves reserved (0 in an entry that a program without them
  // made), so that an entry whose files no living process has open can be reused for
  // another pair when the table is full. An open by a program that does not keep them is
  // not among the holders, and its entry is then never reused while it stays open.
  std::uint32_t limit_holds;   // setFileLimit calls, each of which added 10000 to open_count
  std::uint32_t holders[LOG_FILE_HOLDERS];  // process ids of opens not yet closed; 0 free
  // The current file's size after the last whole record written into it (0: unknown), so
  // that a writer that finds the file at that size knows it ends in a line feed without
  // reading its last byte, whoever wrote last. Written under the block's mutex; a program
  // that does not keep it changes the file's size without it, which then does not match.
  std::int32_t end_size;
};

// Kinds of filter entries; any kind above LOG_FILTER_SOURCE_FILE matches every message.
enum LogFilterKind : std::uint32_t {
  LOG_FILTER_FREE = 0,
  LOG_FILTER_PROCESS_ID = 1,
  LOG_FILTER_PROCESS_NAME = 2,
  LOG_FILTER_SOURCE_FILE = 3,
};

// The process id as the logger knows it: in records, in filter entries of kind 1 and in
// its own tests of them, the system's id modulo 100000, without a sign.
inline std::int32_t memlgqk_reduced_process_id(long long pid) {
  const long long reduced = pid % 100000;
  return static_cast<std::int32_t>(reduced < 0 ? -reduced : reduced);
}

// One entry of the filter table, 116 bytes.
struct LogFilterEntry {
  std::uint32_t kind;        // LogFilterKind
  std::int32_t level;        // a matching message passes when its rank is below this
  std::int32_t process_id;   // kind 1: the logger's reduced process id (memlgqk_reduced_process_id)
  char name[104];            // kind 2: the shown process name; kind 3: a source base name
};

const int LOG_FILE_TABLE_ENTRIES = 40;
const int LOG_FILTER_ENTRIES = 20;
const std::size_t LOG_DIRECTORY_FIELD = 276;
const std::size_t LOG_DIRECTORY_MAX = 259;  // characters before the zero byte
const std::size_t LOG_DIRECTORY_TEXT_FIELD = LOG_DIRECTORY_MAX + 1;  // the part of the field the text may use
const char LOG_BLOCK_MARKER[] = "LOGMEM";   // with its zero byte: 7 bytes

struct MEMORY_LGQK {
  LogFileTableEntry files[LOG_FILE_TABLE_ENTRIES];
  std::uint32_t filter_busy;                  // not 0 while a party changes the filters
  LogFilterEntry filters[LOG_FILTER_ENTRIES];
  // The log directory's field is 276 bytes; its text takes at most 260 of them (259
  // characters and the zero byte), and the layout leaves the 16 after them unused. The
  // filter generation takes the first 4 of those (offset 10744).
  char log_directory[LOG_DIRECTORY_TEXT_FIELD];  // '/' separators, no trailing '/'; "" none
  // Changed by every party that changes the filter table or the busy word, after the
  // change (memlgqk_filters_changed): a process keeps its filter verdicts while the number
  // stays, and reads the table again when it moved. 0 in a new block; any value is valid,
  // only its change counts.
  std::uint32_t filter_generation;
  char reserved_before_offset[12];
  std::int32_t time_offset_seconds;
  std::int32_t time_offset_milliseconds;
  char marker[8];                             // "LOGMEM", zero, one byte of padding
};

static_assert(sizeof(LogFileTableEntry) == 204, "file-table entry is 204 bytes");
static_assert(offsetof(LogFileTableEntry, pattern) == 64, "entry pattern");
static_assert(offsetof(LogFileTableEntry, options) == 128, "entry options");
static_assert(offsetof(LogFileTableEntry, open_count) == 132, "entry open count");
static_assert(offsetof(LogFileTableEntry, file_number) == 136, "entry file number");
static_assert(offsetof(LogFileTableEntry, start_time) == 140, "entry start time");
static_assert(offsetof(LogFileTableEntry, records) == 144, "entry records");
static_assert(offsetof(LogFileTableEntry, reserved1) == 148, "entry reserved word");
static_assert(offsetof(LogFileTableEntry, size_limit) == 152, "entry size limit");
static_assert(offsetof(LogFileTableEntry, max_records) == 156, "entry maximum records");
static_assert(offsetof(LogFileTableEntry, file_days) == 160, "entry days");
static_assert(offsetof(LogFileTableEntry, limit_holds) == 164, "entry limit holds");
static_assert(offsetof(LogFileTableEntry, holders) == 168, "entry holders");
static_assert(offsetof(LogFileTableEntry, end_size) == 200, "entry end size");
static_assert(sizeof(LogFilterEntry) == 116, "filter entry is 116 bytes");
static_assert(offsetof(LogFilterEntry, level) == 4, "filter level");
static_assert(offsetof(LogFilterEntry, process_id) == 8, "filter process id");
static_assert(offsetof(LogFilterEntry, name) == 12, "filter name");
static_assert(sizeof(MEMORY_LGQK) == 10776, "the shared log block is 10776 bytes");
static_assert(offsetof(MEMORY_LGQK, filter_busy) == 8160, "filter-busy word");
static_assert(offsetof(MEMORY_LGQK, filters) == 8164, "filter table");
static_assert(offsetof(MEMORY_LGQK, log_directory) == 10484, "log directory");
static_assert(LOG_DIRECTORY_TEXT_FIELD + 16 == LOG_DIRECTORY_FIELD, "log directory field");
static_assert(offsetof(MEMORY_LGQK, filter_generation) == 10744, "filter generation");
static_assert(offsetof(MEMORY_LGQK, time_offset_seconds) == 10760, "time offset seconds");
static_assert(offsetof(MEMORY_LGQK, time_offset_milliseconds) == 10764, "time offset ms");
static_assert(offsetof(MEMORY_LGQK, marker) == 10768, "marker");

// Log modes as the logger's start-up passes them (the values of its LogMode).
const int MEMLGQK_MODE_STANDARD = 0;
const int MEMLGQK_MODE_BOOTSTRAP = 1;
const int MEMLGQK_MODE_STDERR_ONLY = 2;

// Creates the block once per process and initialises it: shared by the installation key
// (QK_KEY, base 1) in standard mode, else private; the first user of a shared block
// chooses its log directory. Later calls return the same block. Failures to get the
// mutex, the segment or the attachment, and a shared block without a usable log
// directory, are fatal errors (exit code 999).
MEMORY_LGQK* memlgqk_create(int log_mode);

// The block, or nullptr before memlgqk_create.
MEMORY_LGQK* memlgqk_block();

// The longest log directory the block takes: 259 characters, less on a system whose paths
// would then leave no room for the names of the files in it ("/./stdlog.0").
std::size_t memlgqk_longest_log_directory();

// True when the block is shared between processes.
bool memlgqk_shared();

// How long a process waits for the block's mutex: far longer than any record holds it,
// short enough that a holder that stops (SIGSTOP, a debugger) does not stop the others.
const unsigned long MEMLGQK_MUTEX_WAIT_MS = 5000;

// Waits up to MEMLGQK_MUTEX_WAIT_MS for the block's mutex (a private block: without limit
// for the process's own mutex). A mutex whose holder died is taken over. False when the
// mutex cannot be had: the caller then holds nothing, may change nothing that the mutex
// guards, and does not call memlgqk_unlock; the first failure of an outage is told on
// standard error (with the holder's process id where the system tells it), and until a
// wait succeeds again each wait is brief.
bool memlgqk_lock();
// Releases what memlgqk_lock took.
void memlgqk_unlock();

// The level test's look at the filters: true when the busy word is set (a party is
// changing the table, so the message passes unread), else when an entry lets a message
// of the rank (level & 0x7FFF) from the source base name through. process_id is the
// logger's reduced process id, shown_name the process name shown in records.
bool memlgqk_filter_passes(const MEMORY_LGQK* block, const char* source_base, int rank,
                           int process_id, const char* shown_name);

// The table alone: true when one of the 20 entries matches and its level is above rank.
bool memlgqk_filter_matches(const MEMORY_LGQK* block, const char* source_base, int rank,
                            int process_id, const char* shown_name);

// What the table and the busy word say for one process, whatever the message's source:
// ranks below *pass_below (0 to 32768) pass (process-id, process-name and catch-all
// entries, or every rank while the busy word is set); *source_filters tells whether
// source-file entries are in use, which the full test (memlgqk_filter_passes) must then
// judge for each source. False when a change was under way (every rank passes then): the
// answer holds for this moment only and is not to be kept under the generation.
bool memlgqk_filter_summary(const MEMORY_LGQK* block, int process_id, const char* shown_name,
                            int* pass_below, bool* source_filters);

// Clears the first source-file entry (kind 3) naming the source file, with the busy word
// set during the change. False when there was none.
bool memlgqk_remove_file_filter(MEMORY_LGQK* block, const char* source_file);

// Tells every process of the block that its filters changed: moves the filter generation
// on. Every writer of the filter table calls it once its change is complete and before it
// lowers the busy word again, so that a reader that saw the word low at both ends of its
// reading and the same generation read a table no change touched meanwhile; a change it
// does not follow with this call is seen by the processes only after the next one that does.
void memlgqk_filters_changed(MEMORY_LGQK* block);

// The filter generation as the block holds it now (read atomically: another process
// changes it in place).
inline std::uint32_t memlgqk_filter_generation(const MEMORY_LGQK* block) {
  return __atomic_load_n(&block->filter_generation, __ATOMIC_ACQUIRE);
}

// The log directory as a zero-terminated copy (at most 259 characters, cut at the field's
// end when another program left it without its zero byte); "" when none was chosen. The
// directory of this process's shared block is untrusted: unless it is the folder this
// process would choose itself, or an absolute path to a folder inside the installation's
// folders (QK_ROOT, QK_LOCAL, QK_SITE) that may hold its files, "" and a message on
// standard error. A removed folder is made again under the same rules. The field is read
// once: the copy is what was checked, and the one to use.
const char* memlgqk_log_directory(const MEMORY_LGQK* block, char (&copy)[LOG_DIRECTORY_MAX + 1]);

// The log directory this process would choose for a new block, as the block would hold
// it: QK_LOG, else QK_ROOT's "log" folder; "" when neither names one. *setting (when
// given) is then "QK_LOG" or "QK_ROOT", else nullptr.
std::string memlgqk_own_log_directory(const char** setting);

// The warning, once, when the block's directory serves though this process's own setting
// (QK_LOG, else QK_ROOT) names another folder: the text naming both, then "".
std::string memlgqk_take_directory_notice();

// --- For programs that look at an installation's block from outside (qklog) -----------------

enum MemlgqkAttachResult {
  MEMLGQK_ATTACHED = 0,
  MEMLGQK_NO_BLOCK,          // no segment of the key exists
  MEMLGQK_WRONG_SIZE,        // its backing file is shorter than a block
  MEMLGQK_NOT_ATTACHED,      // the segment exists but cannot be mapped
  MEMLGQK_NOT_INITIALISED,   // no process has initialised it (no marker)
  MEMLGQK_NO_PERMISSION,     // this user may not open it so (another user's installation)
};

// The installation's existing block for the key (env_key with base 1, as the logger forms
// it), attached read and write (read only: for looking, which a user who may only read
// the installation can do too) beside this process's own block, which stays as it is.
// Nothing is created: no segment, backing file, folder or mutex. *block is the block when
// the result is MEMLGQK_ATTACHED, else nullptr; *why tells why it could not be attached.
MemlgqkAttachResult memlgqk_attach_existing(int key, bool read_only, MEMORY_LGQK** block,
                                            platform::SystemError* why);

// The name of the block's mutex for the key: "QK_SEM%08x".
std::string memlgqk_mutex_name(int key);

// The block is never destroyed: asking for it is the fatal error
// "LOGGER:  tried to delete a shared memory object".
[[noreturn]] void memlgqk_destroy();

#endif
