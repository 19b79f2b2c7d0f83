// RunTool against a real child process: exit statuses, redirection, working
// folder, argument passing without a shell, descriptor and signal hygiene,
// the time limit and cancellation.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/scoped_temp.h"

const std::string kHelper = ORVEL_TOOL_HELPER;

TEST(RunTool, SucceedsOnlyOnExitStatusZero) {
  EXPECT_TRUE(RunTool(kHelper, {"exit", "0"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"exit", "1"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"exit", "255"}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"signal"}, "", ""));
  EXPECT_FALSE(RunTool("/nonexistent/tool", {}, "", ""));
  EXPECT_FALSE(RunTool("", {}, "", ""));
}

TEST(RunTool, ArgumentsEnvironmentAndWorkingFolderArriveAndOutputIsRedirected) {
  ScopedTempFolder temp;
  const std::string folder = temp.Join("with space \"and quotes\" ü");
  ASSERT_TRUE(EnsureFolder(folder));
  const std::string output = JoinPath(folder, "out put.txt");
  ASSERT_TRUE(WriteTextFile(output, "previous content that must be truncated away"));
  ASSERT_TRUE(RunTool(kHelper, {"print", "a b", "\"quoted\"", "$HOME", "*.jpg", "ä;|&"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "a b\n\"quoted\"\n$HOME\n*.jpg\nä;|&\n");
  // Standard input and error are the null device.
  ASSERT_TRUE(RunTool(kHelper, {"stdin"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "0\n");
  ASSERT_TRUE(RunTool(kHelper, {"stderr"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "");
  // An output that cannot be created starts nothing.
  const std::string marker = temp.Join("started");
  EXPECT_FALSE(RunTool(kHelper, {"touch", marker}, temp.Join("missing/folder/out.txt"), ""));
  EXPECT_FALSE(PathExists(marker));
  EXPECT_TRUE(RunTool(kHelper, {"touch", marker}, "", ""));
  EXPECT_TRUE(PathExists(marker));
  ASSERT_TRUE(RunTool(kHelper, {"pwd"}, output, folder));
  char resolved[4096];
  ASSERT_NE(::realpath(folder.c_str(), resolved), nullptr);
  EXPECT_EQ(ReadTextFile(output), std::string(resolved) + "\n");
  EXPECT_FALSE(RunTool(kHelper, {"pwd"}, output, temp.Join("missing")));
  // The environment passes on, with huge-page advice unless tunables are set.
  ScopedEnv own("ORVEL_PROCESS_TEST", "kept");
  ASSERT_TRUE(RunTool(kHelper, {"env", "ORVEL_PROCESS_TEST"}, output, ""));
  EXPECT_EQ(ReadTextFile(output), "kept\n");
  for (const char* tunables : {static_cast<const char*>(nullptr), "glibc.malloc.check=0"}) {
    ScopedEnv env("GLIBC_TUNABLES", tunables);
    ASSERT_TRUE(RunTool(kHelper, {"env", "GLIBC_TUNABLES"}, output, ""));
    EXPECT_EQ(ReadTextFile(output), std::string(tunables ? tunables : "glibc.malloc.hugetlb=1") + "\n");
  }
}

TEST(RunTool, ChildInheritsNoDescriptorsEvenUnderConcurrentSpawns) {
  ScopedTempFolder temp;
  UniqueFd held = CreateForWriting(temp.Join("held"));  // open while tools run elsewhere
  ASSERT_TRUE(held.Valid());
  // Descriptors the test runner itself inherited pass on; ours must not.
  ASSERT_TRUE(RunTool(kHelper, {"fds"}, temp.Join("baseline"), ""));
  const std::string baseline = ReadTextFile(temp.Join("baseline"));
  EXPECT_EQ(("\n" + baseline).find("\n" + std::to_string(held.fd) + "\n"), std::string::npos);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 10; ++round) {
        RunTool(kHelper, {"fds"}, temp.Join("fds" + std::to_string(i)), "");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadTextFile(temp.Join("fds" + std::to_string(i))), baseline);
}

TEST(RunToolLimits, ChildStartsWithNoBlockedOrIgnoredSignal) {
  ScopedTempFolder temp;
  const std::string output = temp.Join("signals.txt");
  // What orvel-cli does: SIGINT and SIGTERM blocked, SIGPIPE ignored.
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
  struct sigaction ignore{}, previousPipe{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previousPipe);
  const bool ran = RunTool(kHelper, {"signals"}, output, "");
  ::sigaction(SIGPIPE, &previousPipe, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(ran);
  unsigned long long blockedSet = ~0ull, ignoredSet = ~0ull;
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
  for (int i = 0; i < 5000 && !PathExists(temp.Join("b")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(PathExists(temp.Join("b")));
  CancelToolRuns();
  runner.join();
  EXPECT_FALSE(hungResult);
  EXPECT_TRUE(ToolRunsCancelled());
  EXPECT_FALSE(RunTool(kHelper, {"touch", temp.Join("c")}, "", ""));
  EXPECT_FALSE(PathExists(temp.Join("c")));
  ResetToolRunCancellation();
  EXPECT_TRUE(RunTool(kHelper, {"touch", temp.Join("c")}, "", ""));
}

