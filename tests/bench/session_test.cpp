// Tests of the session file, the data folder order and the whole-file
// helpers.
#include <fcntl.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "bench/session.h"
#include "platform/files.h"
#include "tests/bench/bench_test_support.h"

namespace {

class SessionTest : public ::testing::Test {
 protected:
  BenchTestFolders folders;

  std::string WriteImageList(const std::string& text, const std::string& name = "list with space.txt") {
    const std::string path = folders.temp.Join(name);
    EXPECT_TRUE(WriteTextFile(path, text));
    return path;
  }

  // A session file for `images` listed images, with the given extra lines
  // replacing the defaults.
  void WriteSessionFile(const std::string& text) {
    ASSERT_TRUE(WriteTextFile(SessionFilePath(), text));
  }

  std::string StandardSessionText(const std::string& listPath, const std::string& nextIndex,
                                  const std::string& depth) {
    return "Version=1.3.3\nRoot=/r\nSessionDir=" + folders.images + "\nCsvPath=/s/c.csv\nImageListPath=" + listPath +
           "\nMaxPerFolder=5\nMaxTotal=5000\nDepth=" + depth +
           "\nFoldersFound=3\nImagesFound=10\nNextIndex=" + nextIndex + "\nCompleted=4\n";
  }

  std::string TenImages() {
    std::string list;
    for (int i = 0; i < 10; ++i) list += "/img/" + std::to_string(i) + ".jpg\n";
    return list;
  }
};

TEST_F(SessionTest, RoundTripKeepsEveryFieldWithUmlautsAndSpaces) {
  BenchmarkSession saved;
  saved.root = "/home/j\xC3\xBCrgen/Meine Bilder";
  saved.sessionDir = folders.temp.Join("Run \xC3\xA4");
  ASSERT_TRUE(MakeFolder(saved.sessionDir));
  saved.csvPath = JoinPath(saved.sessionDir, "quality_profile_raw.csv");
  saved.imageListPath = WriteImageList("/home/j\xC3\xBCrgen/Meine Bilder/\xC3\x96l 1.jpg\n/b.png\n");
  saved.maxPerFolder = 7;
  saved.maxTotal = -12;
  saved.depth = 2;
  saved.foldersFound = 18446744073709551615ull;
  saved.imagesFound = 42;
  saved.nextIndex = 1;
  saved.completed = 1;
  ASSERT_TRUE(SaveSession(saved));
  EXPECT_EQ(saved.sessionFilePath, SessionFilePath());
  EXPECT_EQ(saved.sessionFilePath, folders.data + "/OrvelJpegOptimizer/benchmark_current.ini");
  EXPECT_EQ(ReadTextFile(saved.sessionFilePath),
            "Version=1.3.3\nRoot=" + saved.root + "\nSessionDir=" + saved.sessionDir +
                "\nCsvPath=" + saved.csvPath + "\nImageListPath=" + saved.imageListPath +
                "\nMaxPerFolder=7\nMaxTotal=-12\nDepth=2\nFoldersFound=18446744073709551615\n"
                "ImagesFound=42\nNextIndex=1\nCompleted=1\n");
  EXPECT_TRUE(SessionFileExists());

  BenchmarkSession loaded;
  ASSERT_TRUE(LoadSession(loaded));
  EXPECT_EQ(loaded.root, saved.root);
  EXPECT_EQ(loaded.sessionDir, saved.sessionDir);
  EXPECT_EQ(loaded.csvPath, saved.csvPath);
  EXPECT_EQ(loaded.imageListPath, saved.imageListPath);
  EXPECT_EQ(loaded.sessionFilePath, saved.sessionFilePath);
  EXPECT_EQ(loaded.images, (std::vector<std::string>{
                               "/home/j\xC3\xBCrgen/Meine Bilder/\xC3\x96l 1.jpg", "/b.png"}));
  EXPECT_EQ(loaded.maxPerFolder, 7);
  EXPECT_EQ(loaded.maxTotal, -12);
  EXPECT_EQ(loaded.depth, 2);
  EXPECT_EQ(loaded.foldersFound, saved.foldersFound);
  EXPECT_EQ(loaded.imagesFound, 42u);
  EXPECT_EQ(loaded.nextIndex.load(), 1u);
  EXPECT_EQ(loaded.completed.load(), 1u);
}

TEST_F(SessionTest, CrlfAndByteOrderMarkFilesLoadWithCleanValues) {
  std::string list = "/a b.jpg\r\n\r\n/c.jpg\r\n";
  const std::string listPath = WriteImageList("\xEF\xBB\xBF" + list);
  std::string text = StandardSessionText(listPath, "1", "0");
  std::string crlf;
  for (const char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  WriteSessionFile("\xEF\xBB\xBF" + crlf);
  BenchmarkSession session;
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(session.root, "/r");
  EXPECT_EQ(session.sessionDir, folders.images);
  EXPECT_EQ(session.csvPath, "/s/c.csv");
  EXPECT_EQ(session.imageListPath, listPath);
  EXPECT_EQ(session.images, (std::vector<std::string>{"/a b.jpg", "/c.jpg"}));
  EXPECT_EQ(session.nextIndex.load(), 1u);
  EXPECT_EQ(session.depth, 0);
}

TEST_F(SessionTest, NumbersDecideWhetherASessionCanResume) {
  const std::string listPath = WriteImageList(TenImages());
  BenchmarkSession session;
  WriteSessionFile(StandardSessionText(listPath, "99", "1"));
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(session.nextIndex.load(), 0u);
  WriteSessionFile(StandardSessionText(listPath, "10", "1"));
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(session.nextIndex.load(), 10u);
  WriteSessionFile(StandardSessionText(listPath, "3", "7"));
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(session.depth, 7);
  WriteSessionFile(StandardSessionText(listPath, "3", "abc"));
  EXPECT_FALSE(LoadSession(session));
  WriteSessionFile(StandardSessionText(listPath, "-1", "1"));
  EXPECT_FALSE(LoadSession(session));
  WriteSessionFile(StandardSessionText(listPath, "3", "99999999999"));
  EXPECT_FALSE(LoadSession(session));
}

TEST_F(SessionTest, MissingKeysOrImagesMeanNoSession) {
  BenchmarkSession session;
  EXPECT_FALSE(SessionFileExists());
  EXPECT_FALSE(LoadSession(session));
  const std::string listPath = WriteImageList(TenImages());
  std::string text = StandardSessionText(listPath, "0", "1");
  const std::string withoutRoot = "Root\n" + text.substr(text.find("SessionDir"));
  WriteSessionFile(withoutRoot);
  EXPECT_FALSE(LoadSession(session));
  WriteSessionFile(StandardSessionText(WriteImageList("\r\n\n", "blank.txt"), "0", "1"));
  EXPECT_FALSE(LoadSession(session));
  WriteSessionFile(StandardSessionText(folders.temp.Join("missing.txt"), "0", "1"));
  EXPECT_FALSE(LoadSession(session));
  // Without its run folder or raw file a run would measure and write nothing.
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"SessionDir=" + folders.images + "\n", ""},
           {"SessionDir=" + folders.images + "\n", "SessionDir=\n"},
           {"SessionDir=" + folders.images + "\n", "SessionDir=" + folders.temp.Join("gone") + "\n"},
           {"CsvPath=/s/c.csv\n", ""},
           {"CsvPath=/s/c.csv\n", "CsvPath=\n"}}) {
    std::string broken = StandardSessionText(listPath, "0", "1");
    broken.replace(broken.find(from), from.size(), to);
    WriteSessionFile(broken);
    EXPECT_FALSE(LoadSession(session)) << to;
  }
  // A later line replaces an earlier one.
  WriteSessionFile(StandardSessionText(listPath, "0", "1") + "Depth=2\n");
  ASSERT_TRUE(LoadSession(session));
  EXPECT_EQ(session.depth, 2);
  // A folder in the file's place is no session.
  ASSERT_TRUE(DeleteFileAt(SessionFilePath()));
  ASSERT_TRUE(MakeFolder(SessionFilePath()));
  EXPECT_FALSE(SessionFileExists());
}

TEST(LocalDataFolderTest, FollowsTheFallbackOrder) {
  ScopedEnv local("LOCALAPPDATA", "/l");
  ScopedEnv xdg("XDG_DATA_HOME", "/x");
  ScopedEnv home("HOME", "/h");
  EXPECT_EQ(LocalDataFolder(), "/l");
  ScopedEnv emptyLocal("LOCALAPPDATA", "");
  EXPECT_EQ(LocalDataFolder(), "/x");
  ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(LocalDataFolder(), "/h/.local/share");
  ScopedEnv noHome("HOME", nullptr);
  ScopedEnv noLocal("LOCALAPPDATA", nullptr);
  EXPECT_EQ(LocalDataFolder(), ProgramFolder());
}

TEST_F(SessionTest, RunsFolderLiesBesideTheSessionFile) {
  EXPECT_EQ(BenchmarkRunsFolder(), folders.data + "/OrvelJpegOptimizer/BenchmarkRuns");
  EXPECT_TRUE(IsDirectory(BenchmarkRunsFolder()));
}

TEST_F(SessionTest, WholeFileHelpersHandleMarksAndLimits) {
  const std::string path = folders.temp.Join("w.txt");
  ASSERT_TRUE(WriteWholeFile(path, "abc", true));
  EXPECT_EQ(ReadTextFile(path), "\xEF\xBB\xBF" "abc");
  EXPECT_EQ(ReadWholeFile(path), "abc");
  ASSERT_TRUE(WriteWholeFile(path, "", false));
  EXPECT_EQ(ReadTextFile(path), "");
  EXPECT_EQ(ReadWholeFile(folders.temp.Join("none")), "");
  ASSERT_TRUE(AppendToFile(path, "x\r\n"));
  ASSERT_TRUE(AppendToFile(path, ""));
  ASSERT_TRUE(AppendToFile(path, "y\r\n"));
  EXPECT_EQ(ReadTextFile(path), "x\r\ny\r\n");
  const std::string created = folders.temp.Join("new.txt");
  ASSERT_TRUE(AppendToFile(created, "z"));
  EXPECT_EQ(ReadTextFile(created), "z");
}

// Fails every write after the first `allowed` bytes: a disk that fills up in
// the middle of an append.
std::atomic<size_t> bytesAllowed{0};
ssize_t LimitedWrite(int fd, const void* data, size_t size) {
  const size_t allowed = bytesAllowed.load();
  if (allowed == 0) {
    errno = ENOSPC;
    return -1;
  }
  const size_t now = std::min(size, allowed);
  bytesAllowed.store(allowed - now);
  return ::write(fd, data, now);
}

TEST_F(SessionTest, AFailedAppendLeavesTheFileAsItWas) {
  const std::string path = folders.temp.Join("rows.csv");
  ASSERT_TRUE(AppendToFile(path, "header\r\n"));
  FileSystemCalls failing = ActiveFileSystemCalls();
  failing.write = LimitedWrite;
  bytesAllowed = 5;
  SetFileSystemCalls(&failing);
  const bool appended = AppendToFile(path, "row one\r\nrow two\r\n");
  SetFileSystemCalls(nullptr);
  EXPECT_FALSE(appended);
  EXPECT_EQ(ReadTextFile(path), "header\r\n");

  // A session that cannot be written keeps the last good state.
  BenchmarkSession session;
  session.root = "/good";
  ASSERT_TRUE(SaveSession(session));
  session.root = "/bad";
  bytesAllowed = 10;
  SetFileSystemCalls(&failing);
  const bool saved = SaveSession(session);
  SetFileSystemCalls(nullptr);
  EXPECT_FALSE(saved);
  EXPECT_NE(ReadTextFile(SessionFilePath()).find("Root=/good\n"), std::string::npos);
}

}  // namespace
