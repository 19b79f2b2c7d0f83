// RunTool against a real child process: exit statuses, redirection, working
// folder, argument passing without a shell, and descriptor hygiene.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/scoped_temp.h"

namespace {

const std::string kHelper = ORVEL_TOOL_HELPER;

TEST(RunTool, SucceedsOnlyOnExitStatusZero) {
  EXPECT_TRUE(RunTool(kHelper, {"exit", "0"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"exit", "1"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"exit", "255"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"signal"}, "", ""));
  EXPECT_FALSE(RunTool("/nonexistent/tool", {}, "", ""));
  EXPECT_FALSE(RunTool("", {}, "", ""));
}

TEST(RunTool, ArgumentsArriveExactlyAndOutputIsRedirected) {
  ScopedTempFolder temp;
  const std::string folder = temp.Join("with space \"and quotes\" ü");
  ASSERT_TRUE(EnsureFolder(folder));
  const std::string output = JoinPath(folder, "out put.txt");
  ASSERT_TRUE(WriteTextFile(output, "previous content that must be truncated away"));
  const std::vector<std::string> arguments = {"print", "a b", "\"quoted\"", "$HOME", "*.jpg", "ä;|&"};
  ASSERT_TRUE(RunTool(kHelper, arguments, output, ""));
  EXPECT_EQ(ReadTextFile(output), "a b\n\"quoted\"\n$HOME\n*.jpg\nä;|&\n");
}

TEST(RunTool, ToolsInheritTheEnvironmentWithHugePageAdviceUnlessTunablesAreSet) {
  ScopedTempFolder temp;
  const std::string output = temp.Join("env.txt");
  ::setenv("ORVEL_PROCESS_TEST", "kept", 1);
  ASSERT_TRUE(RunTool(kHelper, {"env", "ORVEL_PROCESS_TEST"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "kept\n");
  ::unsetenv("GLIBC_TUNABLES");
  ASSERT_TRUE(RunTool(kHelper, {"env", "GLIBC_TUNABLES"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "glibc.malloc.hugetlb=1\n");
  // The user's own tunables win.
  ::setenv("GLIBC_TUNABLES", "glibc.malloc.check=0", 1);
  ASSERT_TRUE(RunTool(kHelper, {"env", "GLIBC_TUNABLES"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "glibc.malloc.check=0\n");
  ::unsetenv("GLIBC_TUNABLES");
  ::unsetenv("ORVEL_PROCESS_TEST");
}

TEST(RunTool, StandardStreamsAreTheNullDevice) {
  ScopedTempFolder temp;
  const std::string output = temp.Join("stdin.txt");
  ASSERT_TRUE(RunTool(kHelper, {"stdin"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "0\n");
  ASSERT_TRUE(RunTool(kHelper, {"stderr"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "");
}

TEST(RunTool, OutputThatCannotBeCreatedStartsNothing) {
  ScopedTempFolder temp;
  const std::string marker = temp.Join("started");
  EXPECT_FALSE(RunTool(kHelper, {"touch", marker}, temp.Join("missing/folder/out.txt"), ""));
  EXPECT_FALSE(PathExists(marker));
  EXPECT_TRUE(RunTool(kHelper, {"touch", marker}, "", ""));
  EXPECT_TRUE(PathExists(marker));
}

TEST(RunTool, RunsInTheGivenWorkingFolder) {
  ScopedTempFolder temp;
  const std::string folder = temp.Join("work \"dir\"");
  ASSERT_TRUE(EnsureFolder(folder));
  const std::string output = temp.Join("pwd.txt");
  ASSERT_TRUE(RunTool(kHelper, {"pwd"}, output, folder));
  char resolved[4096];
  ASSERT_NE(::realpath(folder.c_str(), resolved), nullptr);
  EXPECT_EQ(ReadTextFile(output), std::string(resolved) + "\n");
  EXPECT_FALSE(RunTool(kHelper, {"pwd"}, output, temp.Join("missing")));
}

TEST(RunTool, ChildInheritsNoDescriptorsEvenUnderConcurrentSpawns) {
  ScopedTempFolder temp;
  // Files the program holds open while tools run elsewhere.
  UniqueFd held = CreateForWriting(temp.Join("held"));
  ASSERT_TRUE(held.Valid());
  // Descriptors the test runner itself inherited without close-on-exec pass
  // on; ours must not.
  ASSERT_TRUE(RunTool(kHelper, {"fds"}, temp.Join("baseline"), ""));
  const std::string baseline = ReadTextFile(temp.Join("baseline"));
  EXPECT_EQ(("\n" + baseline).find("\n" + std::to_string(held.fd) + "\n"), std::string::npos);
  std::vector<std::thread> threads;
  std::vector<std::string> outputs;
  for (int i = 0; i < 4; ++i) outputs.push_back(temp.Join("fds" + std::to_string(i)));
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 10; ++round) RunTool(kHelper, {"fds"}, outputs[i], "");
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& output : outputs) EXPECT_EQ(ReadTextFile(output), baseline) << output;
}

// Waits (bounded) until a hanging helper has created its marker.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 5000 && !PathExists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return PathExists(path);
}

TEST(RunToolLimits, ChildStartsWithNoBlockedOrIgnoredSignal) {
  ScopedTempFolder temp;
  const std::string output = temp.Join("signals.txt");
  // What orvel-cli does: SIGINT and SIGTERM blocked, SIGPIPE ignored.
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  struct sigaction ignore{};
  struct sigaction previousPipe{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previousPipe);
  const bool ran = RunTool(kHelper, {"signals"}, output, "");
  ::sigaction(SIGPIPE, &previousPipe, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(ran);
  unsigned long long blockedSet = ~0ull;
  unsigned long long ignoredSet = ~0ull;
  ASSERT_EQ(std::sscanf(ReadTextFile(output).c_str(), "SigBlk: %llx SigIgn: %llx", &blockedSet,
                        &ignoredSet), 2);
  // Bit n-1 stands for signal n; the C library's own real-time signals
  // (32 and up) are not the program's business.
  EXPECT_EQ(blockedSet & 0x7FFFFFFFull, 0u);
  EXPECT_EQ(ignoredSet & 0x7FFFFFFFull, 0u);
}

TEST(RunToolLimits, HungChildIsKilledAtTheTimeLimitOrOnCancel) {
  ScopedTempFolder temp;
  EXPECT_FALSE(RunTool(kHelper, {"hang", temp.Join("a")}, "", "", 300));
  EXPECT_TRUE(PathExists(temp.Join("a")));

  // Cancelling ends running children and refuses new runs until the reset.
  bool hungResult = true;
  std::thread runner([&] { hungResult = RunTool(kHelper, {"hang", temp.Join("b")}, "", ""); });
  ASSERT_TRUE(WaitForFile(temp.Join("b")));
  CancelToolRuns();
  runner.join();
  EXPECT_FALSE(hungResult);
  EXPECT_TRUE(ToolRunsCancelled());
  EXPECT_FALSE(RunTool(kHelper, {"touch", temp.Join("c")}, "", ""));
  EXPECT_FALSE(PathExists(temp.Join("c")));
  ResetToolRunCancellation();
  EXPECT_TRUE(RunTool(kHelper, {"touch", temp.Join("c")}, "", ""));
}

}  // namespace
