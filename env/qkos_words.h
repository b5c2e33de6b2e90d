// Command texts cut into words, and decimal numbers read from texts. Part of the
// operating-system services of env/qkos.h.
//
//   quote_where_words("select WHERE=$ID");   // "select \"WHERE=42\" " with ID=42
//   parse_decimal("  12ab");                 // 12
#ifndef QK_ENV_QKOS_WORDS_H
#define QK_ENV_QKOS_WORDS_H

// The command split into words as a shell does (quotes, backslashes, $NAME and ${NAME}
// through env_lookup), each word followed by one space, a word that begins with "WHERE"
// between double quotes. At most 999 characters; overwritten by the next call.
const char* quote_where_words(const char* command);

// Cuts the text at spaces into newly allocated words (free them with delete[]) stored from
// words[0] on; runs of spaces before a word are skipped, spaces at the end give one last,
// empty word. The caller provides enough slots.
void split_words(const char* text, char** words);

// Leading spaces and tabs skipped, then decimal digits up to the first other character.
long parse_decimal(const char* text);

#endif
