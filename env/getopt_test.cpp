// The option scanner: the classic examples, clusters, arguments in the same and the next
// word, errors with their exact standard-error bytes, "--" and "-", repeated scans, and
// the C library's scanner working beside it in the same process.
#include "env/getopt.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

// An argument vector that owns its words and ends in a null pointer, as main's does.
class Args {
 public:
  Args(std::initializer_list<const char*> words) {
    for (const char* w : words) words_.emplace_back(w);
    for (std::string& w : words_) pointers_.push_back(&w[0]);
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

// One scan from the start: each result as the letter, with its argument after '='.
std::vector<std::string> scan(Args& args, const char* options) {
  qk_optind = 1;
  std::vector<std::string> seen;
  for (int c; (c = qk_getopt(args.argc(), args.argv(), options)) != -1;) {
    std::string item(1, static_cast<char>(c));
    if (c != '?' && qk_optarg) item += "=" + std::string(qk_optarg);
    seen.push_back(item);
    if (seen.size() > 50) break;  // a scanner that never ends
  }
  return seen;
}

using Seen = std::vector<std::string>;


TEST(Getopt, OptionsThenAnArgumentThenTheFirstOperand) {
  Args args{"prog", "-a", "-b", "x", "file"};
  EXPECT_EQ(scan(args, "ab:"), (Seen{"a", "b=x"}));
  EXPECT_EQ(qk_optind, 4);
  EXPECT_STREQ(args.argv()[qk_optind], "file");
  EXPECT_EQ(qk_optopt, 'b');
}

TEST(Getopt, ClustersAndArgumentsInTheSameWord) {
  Args same{"prog", "-ab5", "rest"};
  EXPECT_EQ(scan(same, "ab:"), (Seen{"a", "b=5"}));
  EXPECT_EQ(qk_optind, 2);

  Args cluster{"prog", "-ca", "-b", "-c", "-a"};  // "-c" is taken as b's argument
  EXPECT_EQ(scan(cluster, "ab:c"), (Seen{"c", "a", "b=-c", "a"}));
  EXPECT_EQ(qk_optind, 5);

  Args next{"prog", "-cb", "word", "x"};  // the argument in the next word after a cluster
  EXPECT_EQ(scan(next, "b:c"), (Seen{"c", "b=word"}));
  EXPECT_EQ(qk_optind, 3);
}

TEST(Getopt, AnOptionWithoutArgumentClearsTheLastArgument) {
  Args args{"prog", "-bx", "-a"};
  qk_optind = 1;
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "ab:"), 'b');
  EXPECT_STREQ(qk_optarg, "x");
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "ab:"), 'a');
  EXPECT_EQ(qk_optarg, nullptr);
}

TEST(Getopt, DoubleDashEndsAndIsSkippedSingleDashEndsAndStays) {
  Args dashes{"prog", "-a", "--", "-b", "x"};
  EXPECT_EQ(scan(dashes, "ab:"), (Seen{"a"}));
  EXPECT_EQ(qk_optind, 3);

  Args dash{"prog", "-a", "-", "-b"};
  EXPECT_EQ(scan(dash, "ab"), (Seen{"a"}));
  EXPECT_EQ(qk_optind, 2);

  Args operand{"prog", "file", "-a"};
  EXPECT_EQ(scan(operand, "a"), Seen{});
  EXPECT_EQ(qk_optind, 1);

  Args none{"prog"};
  EXPECT_EQ(scan(none, "a"), Seen{});
  EXPECT_EQ(qk_optind, 1);
}

TEST(Getopt, EndingDoesNotMoveTheIndexAgain) {
  Args args{"prog", "-a", "--", "x"};
  EXPECT_EQ(scan(args, "a"), Seen{"a"});
  EXPECT_EQ(qk_getopt(args.argc(), args.argv(), "a"), -1);
  EXPECT_EQ(qk_optind, 3);  // "--" is skipped once, "x" stays
}

TEST(Getopt, ARepeatedScanStartsAfreshEvenInsideACluster) {
  Args args{"prog", "-abc", "-d"};
  qk_optind = 1;
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "abcd"), 'a');
  // Reset in the middle of "-abc": the next scan starts at its first letter again.
  qk_optind = 0;
  std::vector<int> again;
  for (int c; (c = qk_getopt(args.argc(), args.argv(), "abcd")) != -1 && again.size() < 9;) again.push_back(c);
  EXPECT_EQ(again, (std::vector<int>{'a', 'b', 'c', 'd'}));
  EXPECT_EQ(scan(args, "abcd"), (Seen{"a", "b", "c", "d"}));
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "abcd"), -1);
  qk_optind = 1;
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "abcd"), 'a');
  qk_optind = 2;  // a jump to another argument leaves the cluster
  EXPECT_EQ(qk_getopt(args.argc(), args.argv(), "abcd"), 'd');
  EXPECT_EQ(scan(args, "abcd"), (Seen{"a", "b", "c", "d"}));

  // Another vector starts at its first letter, even when the last scan stopped early.
  qk_optind = 1;
  ASSERT_EQ(qk_getopt(args.argc(), args.argv(), "abcd"), 'a');
  Args other{"prog", "-xy"};
  qk_optind = 1;
  EXPECT_EQ(qk_getopt(other.argc(), other.argv(), "xy"), 'x');
  // Scanned to its end: a vector that later lies where this one lay (the scanner knows a
  // vector by its address) starts afresh too. Only qk_optind = 0 restarts a scan that
  // stopped inside a cluster of a vector that has gone.
  EXPECT_EQ(qk_getopt(other.argc(), other.argv(), "xy"), 'y');
  EXPECT_EQ(qk_getopt(other.argc(), other.argv(), "xy"), -1);
}

TEST(Getopt, ReturnsLettersFromTheUpperHalfAsPositiveValues) {
  Args args{"prog", "-\xe9"};
  qk_optind = 1;
  EXPECT_EQ(qk_getopt(args.argc(), args.argv(), "\xe9"), 0xe9);
}

// The scenarios that write to standard error run in a child copy of this program, so that
// the exact bytes written to descriptor 2 can be read.
TEST(Getopt, AnUnknownLetterAndAMissingArgumentWriteTheirMessages) {
  testsupport::Run unknown = testsupport::run_child("GetoptUnknownLetter");
  EXPECT_EQ(unknown.exit_code, 0u) << unknown.err;
  EXPECT_EQ(unknown.err, "prog: illegal option -- z\n");

  testsupport::Run cluster = testsupport::run_child("GetoptUnknownInsideACluster");
  EXPECT_EQ(cluster.exit_code, 0u) << cluster.err;
  EXPECT_EQ(cluster.err, "tool: illegal option -- x\ntool: illegal option -- :\n");

  testsupport::Run missing = testsupport::run_child("GetoptMissingArgument");
  EXPECT_EQ(missing.exit_code, 0u) << missing.err;
  EXPECT_EQ(missing.err, "prog: option requires an argument -- b\n");
}

// Each scenario checks the scanner's answers itself; its parent reads standard error.
TEST(DISABLED_ChildScenario, GetoptUnknownLetter) {
  Args args{"prog", "-z", "file"};
  EXPECT_EQ(scan(args, "ab:"), Seen{"?"});
  EXPECT_EQ(qk_optopt, 'z');
  EXPECT_EQ(qk_optind, 2);
}

TEST(DISABLED_ChildScenario, GetoptUnknownInsideACluster) {
  Args args{"tool", "-axb", "-:", "y"};
  EXPECT_EQ(scan(args, "ab"), (Seen{"a", "?", "b", "?"}));
  EXPECT_EQ(qk_optind, 3);
}

TEST(DISABLED_ChildScenario, GetoptMissingArgument) {
  Args args{"prog", "-a", "-b"};
  EXPECT_EQ(scan(args, "ab:"), (Seen{"a", "?"}));
  EXPECT_EQ(qk_optopt, 'b');
  EXPECT_EQ(qk_optind, 3);
}

TEST(Getopt, TheCLibraryScannerKeepsItsOwnState) {
  Args ours{"prog", "-a", "-b", "x", "file"};
  Args theirs{"other", "-q", "-r", "y", "-s", "z"};
  qk_optind = 1;
  optind = 1;
  opterr = 0;
  // Interleaved calls: neither scanner may move the other's index or argument.
  ASSERT_EQ(qk_getopt(ours.argc(), ours.argv(), "ab:"), 'a');
  ASSERT_EQ(getopt(theirs.argc(), theirs.argv(), "+qr:s:"), 'q');
  ASSERT_EQ(qk_getopt(ours.argc(), ours.argv(), "ab:"), 'b');
  EXPECT_STREQ(qk_optarg, "x");
  ASSERT_EQ(getopt(theirs.argc(), theirs.argv(), "+qr:s:"), 'r');
  EXPECT_STREQ(optarg, "y");
  EXPECT_STREQ(qk_optarg, "x");
  EXPECT_EQ(qk_optind, 4);
  EXPECT_EQ(optind, 4);
  ASSERT_EQ(getopt(theirs.argc(), theirs.argv(), "+qr:s:"), 's');
  EXPECT_STREQ(optarg, "z");
  EXPECT_EQ(qk_getopt(ours.argc(), ours.argv(), "ab:"), -1);
  EXPECT_EQ(qk_optind, 4);
  EXPECT_EQ(optind, 6);
  EXPECT_EQ(getopt(theirs.argc(), theirs.argv(), "+qr:s:"), -1);
}

}  // namespace
