// The lines of a log file as the record writer lays them out, and as every reader of an
// installation's logs (qklog tail) must take them apart.
//
// A record line is a 99-character prefix, the message text and a line feed:
//
//   12/08 17:34:04.27 myhost         Brimvale            4711 ERROR        Brimvale               88 text
//
// month/day time.hundredths, host, process, pid, level, source and line, each field cut or
// padded to its width (the numbers right-aligned) and followed by one space. A number
// that outgrows its field makes the prefix longer.
//
// A lost-record line keeps the prefix up to the pid column, then the lost mark; a header
// line begins with the header mark.
#ifndef QK_LOG_RECORD_LAYOUT_H
#define QK_LOG_RECORD_LAYOUT_H

const int LOG_RECORD_TIME_WIDTH = 17;  // "MM/DD HH:MM:SS.hh"
const int LOG_RECORD_HOST_WIDTH = 14;
const int LOG_RECORD_PROCESS_WIDTH = 17;
const int LOG_RECORD_PID_WIDTH = 7;
const int LOG_RECORD_LEVEL_WIDTH = 12;
const int LOG_RECORD_SOURCE_WIDTH = 20;
const int LOG_RECORD_LINE_WIDTH = 5;

// The column each field begins at.
const int LOG_RECORD_HOST_AT = LOG_RECORD_TIME_WIDTH + 1;
const int LOG_RECORD_PROCESS_AT = LOG_RECORD_HOST_AT + LOG_RECORD_HOST_WIDTH + 1;
const int LOG_RECORD_PID_AT = LOG_RECORD_PROCESS_AT + LOG_RECORD_PROCESS_WIDTH + 1;
const int LOG_RECORD_LEVEL_AT = LOG_RECORD_PID_AT + LOG_RECORD_PID_WIDTH + 1;
const int LOG_RECORD_SOURCE_AT = LOG_RECORD_LEVEL_AT + LOG_RECORD_LEVEL_WIDTH + 1;
const int LOG_RECORD_LINE_AT = LOG_RECORD_SOURCE_AT + LOG_RECORD_SOURCE_WIDTH + 1;
// Where the message text begins.
const int LOG_RECORD_PREFIX_WIDTH = LOG_RECORD_LINE_AT + LOG_RECORD_LINE_WIDTH + 1;
static_assert(LOG_RECORD_PREFIX_WIDTH == 99, "the record prefix is 99 characters wide");

// "<the prefix's first 51 characters>==========> Was unable to write the last N messages. ..."
const int LOG_LOST_LINE_AT = LOG_RECORD_PID_AT;
const char LOG_LOST_MARK[] = "==========>";

// A header line: the header mark, spaces up to the offset's seconds (signed, right-aligned
// in their field), '.', its hundredths, then the host, the clock and the time zone:
//
//   %%       +3600.25 myhost         1800000000.27         -60 0
const char LOG_HEADER_MARK[] = "%%";
const int LOG_HEADER_SECONDS_AT = 5;
const int LOG_HEADER_SECONDS_WIDTH = 9;
const int LOG_HEADER_POINT_AT = LOG_HEADER_SECONDS_AT + LOG_HEADER_SECONDS_WIDTH;
const int LOG_HEADER_HUNDREDTHS_AT = LOG_HEADER_POINT_AT + 1;
const int LOG_HEADER_HUNDREDTHS_WIDTH = 2;

#endif
