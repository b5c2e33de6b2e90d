// The framework's scanner of single-letter command-line options, with the calling shape
// and behaviour of the classic getopt:
//
//   int c;
//   while ((c = qk_getopt(argc, argv, "ab:")) != -1) {
//     switch (c) {
//       case 'a': ...; break;
//       case 'b': use(qk_optarg); break;
//       default: usage();  // '?': the scanner has told standard error what was wrong
//     }
//   }
//   // argv[qk_optind] is the first argument that is not an option
//
// Its state carries the framework's own names (qk_optind, qk_optarg, qk_optopt), so a
// program may use the C library's getopt, optind, optarg and optopt beside it: the two
// scanners never share anything. Setting qk_optind back to 1 starts a new scan; setting
// it to 0 does too, and also when the last scan stopped inside a cluster such as "-abc"
// of the first argument (where 1 is the index it already has).
//
// The option string lists the accepted letters; a letter followed by ':' takes an
// argument, either the rest of its word ("-b5") or the next word ("-b 5"). "--" ends the
// options and is skipped; "-" alone ends them and stays (it usually means standard
// input). Errors are written to descriptor 2 unbuffered, in three writes: the program's
// name (argv[0]), ": illegal option -- " or ": option requires an argument -- ", and the
// letter with a line feed.
#ifndef QK_ENV_GETOPT_H
#define QK_ENV_GETOPT_H

// Index of the next argument to look at; starts at 1.
extern int qk_optind;
// The last option character looked at.
extern int qk_optopt;
// The argument of the last option that takes one; nullptr after one that takes none.
extern char* qk_optarg;

// The next option letter, '?' (63) for an unknown letter or a missing argument, or -1
// when the options are exhausted.
int qk_getopt(int argc, char* const argv[], const char* options);

#endif
