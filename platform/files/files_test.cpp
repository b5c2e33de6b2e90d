// Files and folders as the framework relies on them on every build: status, folders made
// and refused, access, files opened without losing what they hold, descriptor calls, the
// text reader's rules, path text, and the failure each call leaves behind.
#include "platform/files/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "tests/support/testsupport.h"

namespace {

using testsupport::TempDir;

const unsigned long kNoSuchFile = 2;
const unsigned long kExists = 17;

// The failure names the call and ends with the object it failed on.
void expectFailureOn(const std::string& path, unsigned long code) {
  const platform::SystemError& failure = platform::last_file_failure();
  EXPECT_EQ(code, failure.code) << failure.text();
  EXPECT_EQ(static_cast<int>(code), errno);
  ASSERT_GE(failure.call.size(), path.size() + 2) << failure.call;
  EXPECT_EQ(" " + path, failure.call.substr(failure.call.size() - path.size() - 1)) << failure.call;
  EXPECT_NE(std::string::npos, failure.text().find(path)) << failure.text();
}

std::string readAll(const std::string& path) { return testsupport::read_file(path); }

TEST(FileStatus, TellsFilesFromFoldersAndMissingPaths) {
  TempDir dir;
  testsupport::write_file(dir / "f", "12345");
  const long long now = static_cast<long long>(std::time(nullptr));
  platform::FileStatus status;
  ASSERT_TRUE(platform::file_status((dir / "f").c_str(), &status));
  EXPECT_FALSE(status.is_directory);
  EXPECT_EQ(5, status.size);
  EXPECT_LE(now - 60, status.modified);
  EXPECT_GE(now + 60, status.modified);

  ASSERT_TRUE(platform::file_status(dir.path().c_str(), &status));
  EXPECT_TRUE(status.is_directory);

  EXPECT_FALSE(platform::file_status((dir / "missing").c_str(), &status));
  expectFailureOn(dir / "missing", kNoSuchFile);
}

TEST(MakeDirectory, MakesOneLevelAndReportsWhatIsInTheWay) {
  TempDir dir;
  ASSERT_TRUE(platform::make_directory((dir / "a").c_str()));
  platform::FileStatus status;
  ASSERT_TRUE(platform::file_status((dir / "a").c_str(), &status));
  EXPECT_TRUE(status.is_directory);

  EXPECT_FALSE(platform::make_directory((dir / "a").c_str()));
  expectFailureOn(dir / "a", kExists);
  testsupport::write_file(dir / "file", "x");
  EXPECT_FALSE(platform::make_directory((dir / "file").c_str()));
  expectFailureOn(dir / "file", kExists);
  // Only one level: the parent must be there.
  EXPECT_FALSE(platform::make_directory((dir / "b/c").c_str()));
  expectFailureOn(dir / "b/c", kNoSuchFile);
}

TEST(MakeDirectories, MakesTheMissingLevelsBelowAnExistingParent) {
  TempDir dir;
  EXPECT_TRUE(platform::make_directories(dir / "log", "a/b"));
  platform::FileStatus status;
  ASSERT_TRUE(platform::file_status((dir / "log/a/b").c_str(), &status));
  EXPECT_TRUE(status.is_directory);
  // Everything there already is no failure; "." is the folder itself.
  EXPECT_TRUE(platform::make_directories(dir / "log", "a/b"));
  EXPECT_TRUE(platform::make_directories(dir / "log", "."));
  EXPECT_TRUE(platform::make_directories(dir / "log", ""));

  // The base is made again only where its parent is: a removed installation is not
  // brought back.
  EXPECT_FALSE(platform::make_directories(dir / "gone/log", "a"));
  EXPECT_FALSE(testsupport::file_exists(dir / "gone"));
  EXPECT_EQ(kNoSuchFile, platform::last_file_failure().code);
}

TEST(MakeDirectories, RefusesAFileInPlaceOfAFolder) {
  TempDir dir;
  testsupport::make_dirs(dir / "log");
  testsupport::write_file(dir / "log/a", "not a folder");
  EXPECT_FALSE(platform::make_directories(dir / "log", "a"));
  expectFailureOn(dir / "log/a", kExists);
  EXPECT_EQ("not a folder", readAll(dir / "log/a"));
  // A file on the way down stops the levels below it.
  EXPECT_FALSE(platform::make_directories(dir / "log", "a/b"));
  EXPECT_TRUE(platform::last_file_failure().failed());
  EXPECT_EQ("not a folder", readAll(dir / "log/a"));
}

TEST(AccessPath, AnswersForExistingPathsOnly) {
  TempDir dir;
  testsupport::write_file(dir / "f", "x");
  EXPECT_TRUE(platform::access_path((dir / "f").c_str(), platform::access_read_write));
  EXPECT_TRUE(platform::access_path(dir.path().c_str(), platform::access_exists));
  EXPECT_TRUE(platform::access_path(dir.path().c_str(), platform::access_read));
  EXPECT_FALSE(platform::access_path((dir / "missing").c_str(), platform::access_exists));
  expectFailureOn(dir / "missing", kNoSuchFile);
}

TEST(OpenAppend, AddsToWhatTheFileHolds) {
  TempDir dir;
  const std::string path = dir / "log.0";
  testsupport::write_file(path, "first\n");
  int fd = platform::open_append(path.c_str());
  ASSERT_GE(fd, 0) << platform::last_file_failure().text();
  EXPECT_EQ(7, platform::write_fd(fd, "second\n", 7));
  EXPECT_EQ(13, platform::file_size_fd(fd));
  EXPECT_TRUE(platform::close_fd(fd));
  EXPECT_EQ("first\nsecond\n", readAll(path));

  // A missing file is made; a missing folder is reported.
  fd = platform::open_append((dir / "log.1").c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(0, platform::file_size_fd(fd));
  platform::close_fd(fd);
  EXPECT_EQ(-1, platform::open_append((dir / "none/log.0").c_str()));
  EXPECT_EQ(kNoSuchFile, platform::last_file_failure().code);
  EXPECT_NE(std::string::npos, platform::last_file_failure().text().find("none")) << platform::last_file_failure().text();
}

TEST(CreateNewFile, NeverTouchesAFileThatIsThere) {
  TempDir dir;
  const std::string path = dir / "new";
  ASSERT_TRUE(platform::create_new_file(path.c_str()));
  EXPECT_EQ("", readAll(path));
  testsupport::write_file(path, "kept");
  EXPECT_FALSE(platform::create_new_file(path.c_str()));
  EXPECT_EQ(kExists, platform::last_file_failure().code);
  EXPECT_EQ("kept", readAll(path));

  // Emptying is asked for separately.
  EXPECT_TRUE(platform::create_empty_file(path.c_str()));
  EXPECT_EQ("", readAll(path));
  EXPECT_TRUE(platform::create_empty_file((dir / "other").c_str()));
  EXPECT_TRUE(testsupport::file_exists(dir / "other"));
}

TEST(Descriptors, ReadAtAndTruncateWorkOnAnAppendingFile) {
  TempDir dir;
  const std::string path = dir / "log.0";
  testsupport::write_file(path, "abcdef");
  const int fd = platform::open_append(path.c_str());
  ASSERT_GE(fd, 0);
  char buffer[8] = {0};
  EXPECT_EQ(3, platform::read_at(fd, buffer, 3, 2));
  EXPECT_EQ("cde", std::string(buffer, 3));
  EXPECT_EQ(0, platform::read_at(fd, buffer, 3, 6));  // at the end

  EXPECT_TRUE(platform::truncate_fd(fd, 2));
  EXPECT_EQ(2, platform::file_size_fd(fd));
  // A write after reading still appends at the end, not where the read stopped.
  EXPECT_EQ(1, platform::read_at(fd, buffer, 1, 0));
  EXPECT_EQ(2, platform::write_fd(fd, "XY", 2));
  EXPECT_TRUE(platform::truncate_fd(fd, 6));  // lengthened with zero bytes
  EXPECT_TRUE(platform::close_fd(fd));
  EXPECT_EQ(std::string("abXY\0\0", 6), readAll(path));
}

TEST(LastFileFailure, IsTheLatestFailureOfThisThread) {
  TempDir dir;
  const std::string path = dir / "f";
  const int fd = platform::open_append(path.c_str());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(platform::close_fd(fd));
  // A descriptor call's failure names the call and the descriptor.
  EXPECT_EQ(-1, platform::write_fd(fd, "x", 1));
  const int write_errno = errno;
  const platform::SystemError write_failure = platform::last_file_failure();
  EXPECT_NE(0u, write_failure.code);
  EXPECT_EQ(static_cast<int>(write_failure.code), write_errno);
  EXPECT_NE(std::string::npos, write_failure.call.find("write")) << write_failure.call;
  EXPECT_NE(std::string::npos, write_failure.call.find(std::to_string(fd))) << write_failure.call;

  // A later failure on a path replaces it, and a later descriptor failure replaces that.
  platform::FileStatus status;
  EXPECT_FALSE(platform::file_status((dir / "missing").c_str(), &status));
  expectFailureOn(dir / "missing", kNoSuchFile);
  EXPECT_EQ(-1, platform::file_size_fd(fd));
  EXPECT_EQ(std::string::npos, platform::last_file_failure().call.find("missing"));

  // Other threads keep their own.
  unsigned long other = 1;
  std::thread([&other] { other = platform::last_file_failure().code; }).join();
  EXPECT_EQ(0u, other);
}

// Records may be written by exit-time destructors, after the main thread's thread-local
// objects are gone: a failed call then must still be safe to make and to ask about. The
// call before main leaves a failure text long enough to live on the heap.
struct FailsBeforeMainAndAtExit {
  static void failOnce() {
    platform::FileStatus status;
    if (platform::file_status("no-such-folder-for-the-files-test/no-such-file.0", &status)) std::abort();
    if (platform::last_file_failure().code != kNoSuchFile) std::abort();
  }
  FailsBeforeMainAndAtExit() { failOnce(); }
  ~FailsBeforeMainAndAtExit() {
    failOnce();
    if (platform::write_fd(-1, "x", 1) != -1 || !platform::last_file_failure().failed()) std::abort();
  }
} fails_before_main_and_at_exit;

TEST(TextReader, ReadsAsWindowsTextModeDoes) {
  TempDir dir;
  const std::string path = dir / "QK.env";
  testsupport::write_file(path, "a\r\nb\rc\r\r\nd\x1A" "after");
  platform::TextReader reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  std::string text;
  for (int c; (c = reader.get()) != -1;) text += static_cast<char>(c);
  EXPECT_EQ("a\nb\rc\r\nd", text);
  EXPECT_EQ(-1, reader.get());  // the Ctrl-Z ends the file for good

  // Bytes from 0x80 up come back as 128 to 255, not as the end.
  testsupport::write_file(path, "\xC3\xA9");
  ASSERT_TRUE(reader.open(path.c_str()));
  EXPECT_EQ(0xC3, reader.get());
  EXPECT_EQ(0xA9, reader.get());
  EXPECT_EQ(-1, reader.get());
}

TEST(TextReader, OpensRegularFilesOnly) {
  TempDir dir;
  platform::TextReader reader;
  EXPECT_FALSE(reader.open(dir.path().c_str()));
  EXPECT_TRUE(platform::last_file_failure().failed());
  EXPECT_EQ(-1, reader.get());
  EXPECT_FALSE(reader.open((dir / "missing").c_str()));
  expectFailureOn(dir / "missing", kNoSuchFile);
}

TEST(PathText, AbsolutePathsAndDrivesFollowTheSystem) {
  std::string drive, folder;
  if (platform::path_separator() == '/') {
    EXPECT_TRUE(platform::is_absolute_path("/srv/site"));
    EXPECT_FALSE(platform::is_absolute_path("srv/site"));
    EXPECT_FALSE(platform::is_absolute_path("C:/srv"));
    EXPECT_FALSE(platform::is_absolute_path(""));
    platform::split_drive_and_directory("/opt/qk/bin/Brimvale", drive, folder);
    EXPECT_EQ("", drive);
    EXPECT_EQ("/opt/qk/bin/", folder);
    EXPECT_EQ(4095u, platform::longest_path());
  } else {
    EXPECT_EQ('\\', platform::path_separator());
    EXPECT_TRUE(platform::is_absolute_path("C:\\qk"));
    EXPECT_TRUE(platform::is_absolute_path("d:/qk"));
    EXPECT_TRUE(platform::is_absolute_path("\\\\host\\share"));
    EXPECT_FALSE(platform::is_absolute_path("qk\\bin"));
    EXPECT_FALSE(platform::is_absolute_path(""));
    platform::split_drive_and_directory("C:\\qk\\bin\\Brimvale.exe", drive, folder);
    EXPECT_EQ("C:", drive);
    EXPECT_EQ("\\qk\\bin\\", folder);
    EXPECT_EQ(259u, platform::longest_path());
  }
  platform::split_drive_and_directory("Brimvale", drive, folder);
  EXPECT_EQ("", drive);
  EXPECT_EQ("", folder);
}

TEST(CurrentDirectory, ChangesAndComesBack) {
  TempDir dir;
  const std::string here = platform::current_directory();
  ASSERT_FALSE(here.empty());
  ASSERT_TRUE(platform::change_directory(dir.path().c_str()));
  const std::string there = platform::current_directory();
  EXPECT_NE(here, there);
  testsupport::write_file(dir / "marker", "m");
  platform::FileStatus status;
  EXPECT_TRUE(platform::file_status("marker", &status));  // relative to the new folder
  ASSERT_TRUE(platform::change_directory(here.c_str()));
  EXPECT_EQ(here, platform::current_directory());
  EXPECT_FALSE(platform::change_directory((dir / "missing").c_str()));
  expectFailureOn(dir / "missing", kNoSuchFile);
}

TEST(SharedFolder, AnExistingFolderServesAndAFileDoesNot) {
  TempDir dir;
  EXPECT_TRUE(platform::shared_folder_usable(dir.path()));
  testsupport::write_file(dir / "f", "x");
  EXPECT_FALSE(platform::shared_folder_usable(dir / "f"));
  EXPECT_TRUE(platform::last_file_failure().failed());
  EXPECT_FALSE(platform::shared_folder_usable(dir / "missing"));
  EXPECT_TRUE(platform::last_file_failure().failed());
}

}  // namespace
