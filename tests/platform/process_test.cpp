// RunTool against a real child: exit statuses, redirection, working folder,
// arguments without a shell, descriptor and signal hygiene, limit and cancel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  for (const char* status : {"1", "255"}) EXPECT_FALSE(RunTool(kHelper, {"exit", status}, "", ""));
  EXPECT_FALSE(RunTool(kHelper, {"signal"}, "", ""));
  for (const char* tool : {"/nonexistent/tool", ""}) EXPECT_FALSE(RunTool(tool, {}, "", ""));
}

TEST(RunTool, ArgumentsEnvironmentAndWorkingFolderArriveAndOutputIsRedirected) {
  ScopedTempFolder temp;
  const std::string folder = temp.Join("with space \"and quotes\" ü");
  ASSERT_TRUE(EnsureFolder(folder));
  const std::string output = JoinPath(folder, "out put.txt");
  ASSERT_TRUE(WriteTextFile(output, "previous content that must be truncated away"));
  const auto run = [&](const std::vector<std::string>& arguments, const std::string& where = "") {
    EXPECT_TRUE(RunTool(kHelper, arguments, output, where)) << arguments[0];
    return ReadTextFile(output);
  };
  EXPECT_EQ(run({"print", "a b", "\"quoted\"", "$HOME", "*.jpg", "ä;|&"}), "a b\n\"quoted\"\n$HOME\n*.jpg\nä;|&\n");
  // Standard input and error are the null device.
  EXPECT_EQ(run({"stdin"}) + run({"stderr"}), "0\n");
  // An output that cannot be created starts nothing.
  const std::string marker = temp.Join("started");
  EXPECT_FALSE(RunTool(kHelper, {"touch", marker}, temp.Join("missing/folder/out.txt"), ""));
  EXPECT_FALSE(PathExists(marker));
  EXPECT_TRUE(RunTool(kHelper, {"touch", marker}, "", ""));
  EXPECT_TRUE(PathExists(marker));
  char resolved[4096];
  ASSERT_NE(::realpath(folder.c_str(), resolved), nullptr);
  EXPECT_EQ(run({"pwd"}, folder), std::string(resolved) + "\n");
  EXPECT_FALSE(RunTool(kHelper, {"pwd"}, output, temp.Join("missing")));
  // The environment passes on, with huge-page advice unless tunables are set.
  ScopedEnv own("ORVEL_PROCESS_TEST", "kept");
  EXPECT_EQ(run({"env", "ORVEL_PROCESS_TEST"}), "kept\n");
  for (const char* tunables : {static_cast<const char*>(nullptr), "glibc.malloc.check=0"}) {
    ScopedEnv env("GLIBC_TUNABLES", tunables);
    EXPECT_EQ(run({"env", "GLIBC_TUNABLES"}), std::string(tunables ? tunables : "glibc.malloc.hugetlb=1") + "\n");
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
      for (int round = 0; round < 10; ++round) RunTool(kHelper, {"fds"}, temp.Join("fds" + std::to_string(i)), "");
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
  EXPECT_EQ(std::pair(blockedSet & 0x7FFFFFFFull, ignoredSet & 0x7FFFFFFFull), std::pair(0ull, 0ull));
}

TEST(RunToolLimits, HungChildIsKilledAtTheTimeLimitOrOnCancel) {
  ScopedTempFolder temp;
  EXPECT_FALSE(RunTool(kHelper, {"hang", temp.Join("a")}, "", "", 300));
  EXPECT_TRUE(PathExists(temp.Join("a")));
  // Cancelling ends running children and refuses new runs until the reset.
  bool hungResult = true;
  std::thread runner([&] { hungResult = RunTool(kHelper, {"hang", temp.Join("b")}, "", ""); });
  for (int i = 0; i < 5000 && !PathExists(temp.Join("b")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
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


// More tools at once than the table that cancelling needs has slots: every
// run waits for a slot and succeeds, none is killed for want of one.
TEST(RunToolLimits, MoreConcurrentRunsThanChildSlotsAllSucceed) {
  ScopedTempFolder temp;
  constexpr int kRuns = 80;
  std::vector<char> succeeded(kRuns, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      succeeded[i] = RunTool(kHelper, {"nap", temp.Join("n" + std::to_string(i)), "300"}, "", "");
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::count(succeeded.begin(), succeeded.end(), 1), kRuns);
}

// A terminal's Ctrl-C goes to the foreground process group. The tool is in
// a group of its own, so it goes on; the program decides what to cancel.
TEST(RunToolLimits, ToolOutsideTheProgramsProcessGroupSurvivesItsSigint) {
  ScopedTempFolder temp;
  ASSERT_TRUE(RunTool(kHelper, {"group"}, temp.Join("group"), ""));
  EXPECT_NE(std::stoi(ReadTextFile(temp.Join("group"))), static_cast<int>(::getpgrp()));
  // A program of its own group, SIGINT blocked as orvel-cli blocks it.
  const std::string started = temp.Join("started");
  const pid_t program = ::fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    ::setpgid(0, 0);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    ::_exit(RunTool(kHelper, {"nap", started, "400"}, "", "") ? 0 : 1);
  }
  for (int i = 0; i < 5000 && !PathExists(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(PathExists(started));
  ::kill(-program, SIGINT);
  int status = -1;
  ASSERT_EQ(::waitpid(program, &status, 0), program);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
