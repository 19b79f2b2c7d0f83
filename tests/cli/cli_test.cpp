// orvel-cli: the argument parser and image list called directly, and the
// built program run as a child process (exit statuses, usage, result lines,
// the interrupt, and nothing left in the temporary folder).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engines/engine_store.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/parallel_batch.h"
#include "imaging/decode.h"
#include "imaging/wic_encoder.h"
#include "platform/files.h"
#include "tests/support/scoped_temp.h"
#include "tests/support/text_lines.h"

extern char** environ;

namespace {

// --- running the program ----------------------------------------------------------

struct ChildRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

struct Child {
  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
};

// How a child is started besides its arguments.
struct Launch {
  std::string program = ORVEL_CLI_PROGRAM;
  std::vector<std::string> environment;  // extra "NAME=value" entries
  bool ignoreChildSignal = false;        // start it with SIGCHLD ignored
};

Child StartCli(const std::vector<std::string>& arguments, const std::string& tmpdir,
               const std::string& logFolder, const Launch& launch = Launch{}) {
  Child child;
  child.outPath = JoinPath(logFolder, "stdout.txt");
  child.errPath = JoinPath(logFolder, "stderr.txt");
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) envText.push_back(*e);
  }
  envText.push_back("TMPDIR=" + tmpdir);
  envText.insert(envText.end(), launch.environment.begin(), launch.environment.end());
  std::vector<char*> env;
  for (std::string& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  std::vector<std::string> argvText = {launch.program};
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // An ignored disposition survives exec; ours is restored right after.
  struct sigaction ignore{};
  struct sigaction previous{};
  ignore.sa_handler = SIG_IGN;
  if (launch.ignoreChildSignal) ::sigaction(SIGCHLD, &ignore, &previous);
  if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) child.pid = -1;
  if (launch.ignoreChildSignal) ::sigaction(SIGCHLD, &previous, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

// Waits for the program's end; one that is still running after `limit` is
// killed and reported with status -1, so a hang fails the test instead of
// stalling the suite.
ChildRun WaitForCli(const Child& child, std::chrono::seconds limit = std::chrono::seconds(120)) {
  ChildRun run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pid_t got = 0;
  while (child.pid > 0 && (got = ::waitpid(child.pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (got == 0 && child.pid > 0) {
    ::kill(child.pid, SIGKILL);
    ::waitpid(child.pid, &status, 0);
  } else if (got == child.pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  run.out = ReadTextFile(child.outPath);
  run.err = ReadTextFile(child.errPath);
  return run;
}

// Every entry below `folder` whose name starts with one of the prefixes.
void FindLeftovers(const std::string& folder, std::vector<std::string>& found) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = JoinPath(folder, name);
    if (name.rfind("TALV_", 0) == 0 || name.rfind("engines_", 0) == 0) found.push_back(path);
    if (IsDirectory(path) && !IsSymbolicLink(path)) FindLeftovers(path, found);
  }
  ::closedir(dir);
}

PixelImage Picture(std::uint32_t width, std::uint32_t height, int seed) {
  PixelImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<size_t>(width) * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<std::uint8_t>((x * 3 + seed * 17) & 0xFF);
      p[1] = static_cast<std::uint8_t>((y * 2 + x) & 0xFF);
      p[2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
      p[3] = 255;
    }
  }
  return image;
}

class CliProgramTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  std::string tmpdir;
  std::string images;
  std::string output;

  void SetUp() override {
    tmpdir = temp.Join("tmp");
    images = temp.Join("bilder");
    output = temp.Join("ausgabe");
    ASSERT_TRUE(EnsureFolder(tmpdir, 0700));
    ASSERT_TRUE(EnsureFolder(images));
    ASSERT_TRUE(EnsureFolder(output));
  }
  void TearDown() override {
    std::vector<std::string> leftovers;
    FindLeftovers(tmpdir, leftovers);
    EXPECT_TRUE(leftovers.empty()) << leftovers.front();
  }
  std::string MakeImage(const std::string& name, int seed, std::uint32_t width = 200) {
    const std::string path = JoinPath(images, name);
    EXPECT_TRUE(EncodeJpegWic(Picture(width, 150, seed), path, 0.97f));
    return path;
  }
  ChildRun Run(const std::vector<std::string>& arguments, const Launch& launch = Launch{}) {
    return WaitForCli(StartCli(arguments, tmpdir, temp.path, launch));
  }
  // The program with the test encoder as its tools; `behaviour` and the log
  // as the test encoder reads them.
  Launch StandIn(const std::string& behaviour) const {
    return Launch{ORVEL_CLI_STANDIN_PROGRAM,
                  {"ORVEL_TEST_CJPEGLI=" + behaviour,
                   "ORVEL_TEST_ENCODER_LOG=" + JoinPath(temp.path, "encoder.log")}};
  }
  std::string EncoderLog() const { return ReadTextFile(JoinPath(temp.path, "encoder.log")); }
  bool WaitForLog(const std::string& text) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (EncoderLog().find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return EncoderLog().find(text) != std::string::npos;
  }
};

}  // namespace

// --- parsing -------------------------------------------------------------------------

TEST(CliParseTest, OptimizeWithAllOptions) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(ParseCliArguments({"optimize", "--profile", "stark", "--mode=2", "--output", "/out",
                                 "a.jpg", "--", "-b.jpg"},
                                o, error))
      << error;
  EXPECT_EQ(o.command, CliCommand::kOptimize);
  EXPECT_EQ(o.profile, 4);
  EXPECT_EQ(o.mode, 2);
  EXPECT_EQ(o.outputFolder, "/out");
  EXPECT_EQ(o.files, (std::vector<std::string>{"a.jpg", "-b.jpg"}));
  EXPECT_EQ(o.jobs, 0);  // automatic
  ASSERT_TRUE(ParseCliArguments({"optimize", "--output=/o", "--profile=0", "--jobs=3", "x.jpg"}, o,
                                error));
  EXPECT_EQ(o.profile, 0);
  EXPECT_EQ(o.mode, 1);
  EXPECT_EQ(o.jobs, 3);
  ASSERT_TRUE(ParseCliArguments({"optimize", "--jobs", "256", "--output", "/o"}, o, error));
  EXPECT_EQ(o.jobs, 256);
}

TEST(CliParseTest, DefaultsAndHelp) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(ParseCliArguments({"optimize", "--output", "/o"}, o, error));
  EXPECT_EQ(o.profile, 2);
  EXPECT_TRUE(o.files.empty());
  ASSERT_TRUE(ParseCliArguments({"optimize", "--help"}, o, error));
  EXPECT_EQ(o.command, CliCommand::kHelp);
  ASSERT_TRUE(ParseCliArguments({"bench", "-h"}, o, error));
  EXPECT_EQ(o.command, CliCommand::kHelp);
  ASSERT_TRUE(ParseCliArguments({"bench", "--depth=0", "--", "-x"}, o, error)) << error;
  EXPECT_EQ(o.command, CliCommand::kBench);
  EXPECT_EQ(o.bench.depth, 0);
  EXPECT_EQ(FileNamePart(o.bench.root), "-x");
  ASSERT_TRUE(ParseCliArguments({"analyze", "r.png", "t.jpg"}, o, error));
  EXPECT_EQ(o.reference, "r.png");
  EXPECT_EQ(o.test, "t.jpg");
}

TEST(CliParseTest, UsageErrors) {
  CliOptions o;
  std::string error;
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"optimize", "a.jpg"},
      {"optimize", "--output"},
      {"optimize", "--profile", "hochh", "--output", "/o"},
      {"optimize", "--profile", "6", "--output", "/o"},
      {"optimize", "--mode", "3", "--output", "/o"},
      {"optimize", "--mode", "", "--output", "/o"},
      {"optimize", "--fast", "--output", "/o"},
      {"optimize", "--jobs", "0", "--output", "/o"},
      {"optimize", "--jobs", "257", "--output", "/o"},
      {"optimize", "--jobs=-1", "--output", "/o"},
      {"optimize", "--jobs", "zwei", "--output", "/o"},
      {"optimize", "--output", "/o", "--jobs"},
      {"analyze", "one.jpg"},
      {"status", "extra"}};
  for (const auto& arguments : bad) {
    EXPECT_FALSE(ParseCliArguments(arguments, o, error)) << (arguments.empty() ? "" : arguments[0]);
    EXPECT_FALSE(error.empty());
  }
}

// --- several images at once -----------------------------------------------------------

TEST(ParallelBatchTest, AutomaticJobCountDividesTheThreadsByTheModesEncoderCap) {
  const struct { int mode; unsigned threads; unsigned jobs; } cases[] = {
      {0, 8, 4}, {1, 8, 2}, {2, 8, 1}, {2, 12, 2}, {1, 2, 1}, {0, 1, 1}, {1, 0, 1}};
  for (const auto& c : cases) EXPECT_EQ(AutomaticJobCount(c.mode, c.threads), c.jobs) << c.mode << " " << c.threads;
}

// What a run of RunParallelBatch did, image by image.
struct BatchTrace {
  std::mutex mutex;
  std::condition_variable changed;
  int sequence = 0;                             // counts starts and ends
  int inFlight = 0;
  int mostInFlight = 0;
  std::vector<int> started, ended;              // sequence numbers per image; -1 never
  std::vector<std::vector<std::string>> written;  // handed to each image
  std::vector<std::size_t> reported;            // in report order
  std::vector<bool> reached;
};

// Runs a batch whose image i is optimised exactly when i is even and whose
// outputs are `outputs`. An image listed in `waits` stays in flight until the
// image it names has started (a schedule that cannot overlap them would time
// out there). `stopAfterStarts`: poll asks to stop once that many images have
// started (0 never). Image `throwing` throws instead of returning.
std::unique_ptr<BatchTrace> TraceBatch(const std::vector<std::string>& outputs, unsigned jobs,
                                       const std::map<std::size_t, std::size_t>& waits,
                                       int stopAfterStarts = 0, std::size_t throwing = 99) {
  auto trace = std::make_unique<BatchTrace>();
  BatchTrace& t = *trace;
  t.started.assign(outputs.size(), -1);
  t.ended.assign(outputs.size(), -1);
  t.written.resize(outputs.size());
  ParallelBatchCalls calls;
  calls.process = [&](std::size_t i, const std::vector<std::string>& written) {
    std::unique_lock<std::mutex> lock(t.mutex);
    t.started[i] = t.sequence++;
    t.written[i] = written;
    t.mostInFlight = std::max(t.mostInFlight, ++t.inFlight);
    t.changed.notify_all();
    if (const auto wait = waits.find(i); wait != waits.end()) {
      t.changed.wait_for(lock, std::chrono::seconds(20),
                         [&] { return t.started[wait->second] >= 0; });
    }
    --t.inFlight;
    t.ended[i] = t.sequence++;
    if (i == throwing) throw std::runtime_error("kaputt");
    BatchOutcome outcome;
    outcome.reached = true;
    outcome.result.optimized = i % 2 == 0;
    if (outcome.result.optimized) outcome.result.outputPath = outputs[i];
    return outcome;
  };
  calls.report = [&](std::size_t i, BatchOutcome& outcome) {
    t.reported.push_back(i);
    t.reached.push_back(outcome.reached);
  };
  calls.poll = [&] {
    const std::lock_guard<std::mutex> lock(t.mutex);
    int starts = 0;
    for (int s : t.started) starts += s >= 0;
    return stopAfterStarts > 0 && starts >= stopAfterStarts;
  };
  const std::size_t reported = RunParallelBatch(outputs, jobs, calls);
  EXPECT_EQ(reported, t.reported.size());
  return trace;
}

TEST(ParallelBatchTest, ImagesOverlapYetReportInOrderAndSharedOutputsRunOneAfterTheOther) {
  const std::vector<std::string> outputs = {"/o/a", "/o/b", "/o/p", "/o/c", "/o/p", "/o/d",
                                            "/o/p", "/o/e"};
  for (const unsigned jobs : {1u, 3u}) {
    // With three at once: 0 and 1 overlap; 2 stays until 5 has started, so
    // 4 (same output as 2) must be passed over meanwhile.
    const auto t = TraceBatch(outputs, jobs,
                              jobs > 1 ? std::map<std::size_t, std::size_t>{{0, 1}, {1, 0}, {2, 5}}
                                       : std::map<std::size_t, std::size_t>{});
    EXPECT_EQ(t->reported, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_LE(t->mostInFlight, static_cast<int>(jobs));
    EXPECT_EQ(t->started[1] < t->ended[0], jobs > 1);
    EXPECT_EQ(t->started[5] < t->ended[2], jobs > 1);
    // The three images writing /o/p: each starts after the one before ended,
    // and sees the output the optimised image 2 wrote (image 4 is kept).
    EXPECT_LT(t->ended[2], t->started[4]);
    EXPECT_LT(t->ended[4], t->started[6]);
    for (const std::size_t later : {4u, 6u}) {
      EXPECT_NE(std::find(t->written[later].begin(), t->written[later].end(), "/o/p"),
                t->written[later].end()) << later;
    }
    EXPECT_TRUE(t->written[0].empty());
  }
}

TEST(ParallelBatchTest, AStopLetsTheImagesInFlightFinishAndReportsThem) {
  const auto t = TraceBatch({"/o/a", "/o/b", "/o/c", "/o/d", "/o/e", "/o/f"}, 2, {{0, 1}, {1, 0}}, 2);
  ASSERT_EQ(t->reported, (std::vector<std::size_t>{0, 1}));
  for (std::size_t i = 0; i < 2; ++i) EXPECT_GE(t->ended[i], 0);
  for (std::size_t i = 2; i < 6; ++i) EXPECT_EQ(t->started[i], -1);
}

TEST(ParallelBatchTest, AnImageThatThrowsEndsAsFailureAndTheBatchGoesOn) {
  const auto t = TraceBatch({"/o/a", "/o/b", "/o/c"}, 2, {}, 0, 1);
  EXPECT_EQ(t->reported, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(t->reached, (std::vector<bool>{true, false, true}));
}

TEST(CliFormatTest, AnalysisReportHasSeventeenSignificantDigits) {
  QualityReport report;
  report.global = 0.1;
  report.worst5 = 1.0;
  report.worst = 2.0 / 3.0;
  report.composite = 0.95;
  report.windowScores = {0.5, 0.6};
  EXPECT_EQ(FormatAnalysisReport(report),
            "global=0.10000000000000001\nworst5=1\nworst=0.66666666666666663\ncolor=0\nedge=0\n"
            "ringing=0\nbanding=0\ncomposite=0.94999999999999996\nwindows=2\n");
}

TEST(CliFormatTest, SummaryLine) {
  BatchSummary s;
  s.images = 3;
  s.optimized = 1;
  s.kept = 1;
  s.failed = 1;
  s.bytesBefore = 3 << 20;
  s.bytesAfter = 1536;
  EXPECT_EQ(FormatSummaryLine(s),
            "Zusammenfassung: 3 Bilder   |   1 optimiert   |   1 Original behalten   |   1 Fehler   |"
            "   vorher 3.00 MB (3145728 Bytes)   |   nachher 1.50 KB (1536 Bytes)");
}

// --- the program -------------------------------------------------------------------------

TEST_F(CliProgramTest, HelpAndUsageErrors) {
  ChildRun help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Aufruf:"), std::string::npos);
  EXPECT_NE(help.out.find("orvel-cli optimize [--profile SCHLÜSSEL|0-5] [--mode 0-2] [--jobs N]\n"
                           "                     --output ORDNER DATEI|ORDNER...\n"),
            std::string::npos);
  EXPECT_NE(help.out.find("max_kompression"), std::string::npos);

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"optimize", "x.jpg"}, {"analyze", "x"}, {"zauber"}}) {
    ChildRun run = Run(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Aufruf:"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
  }
}

TEST_F(CliProgramTest, MissingOutputFolderOrImagesAreRefusedAndNothingIsCreated) {
  const std::string a = MakeImage("a.jpg", 1);
  const std::string missing = temp.Join("gibt-es-nicht");
  ChildRun run = Run({"optimize", "--output", missing, a});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "Bitte einen gültigen Ausgabepfad auswählen.\n");
  EXPECT_FALSE(PathExists(missing));
  run = Run({"optimize", "--output", a, a});  // a file is not a folder
  EXPECT_EQ(run.status, 2);
  // No images: none given, or only a folder without JPEG files.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"optimize", "--output", output}, {"optimize", "--output", output, output}}) {
    run = Run(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Bitte zuerst mindestens ein JPEG-Bild hinzufügen.\n");
  }
}

TEST_F(CliProgramTest, OptimizePrintsOneLinePerImageInListOrderAndASummary) {
  const std::string b = MakeImage("b.jpg", 2);
  const std::string a = MakeImage("a.jpg", 3);
  const std::string broken = JoinPath(images, "kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "kein Bild"));
  ChildRun run = Run({"optimize", "--profile", "hoch", "--output", output, b, a,
                      images + "/./a.jpg", broken});
  EXPECT_EQ(run.status, 1);  // one image failed
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0].rfind("a.jpg   |   Hohe Qualität (empfohlen)   |   ", 0), 0u);
  EXPECT_EQ(lines[1].rfind("b.jpg   |   Hohe Qualität (empfohlen)   |   ", 0), 0u);
  EXPECT_EQ(lines[2],
            "kaputt.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Fehler beim "
            "Verarbeiten \u2013 kein Bild oder unbekanntes Format   |   Kandidaten 0/0");
  EXPECT_EQ(lines[3].rfind("Zusammenfassung: 3 Bilder   |   ", 0), 0u);
  EXPECT_NE(lines[3].find("   |   1 Fehler   |   "), std::string::npos);
  // A line names an output exactly when the image was optimised.
  for (const auto& [line, name] : {std::pair{lines[0], "a_hoch.jpg"}, std::pair{lines[1], "b_hoch.jpg"}}) {
    const bool kept = line.find("   |   Original behalten   |   ") != std::string::npos;
    EXPECT_EQ(PathExists(JoinPath(output, name)), !kept) << line;
  }
  // Standard error is no terminal here: no progress line.
  EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(CliProgramTest, OutputThatWouldOverwriteAnotherSourceIsRefused) {
  const std::string turm = MakeImage("turm.jpg", 4);
  const std::string turmHoch = MakeImage("turm_hoch.jpg", 5);
  const std::string before = ReadTextFile(turmHoch);
  ChildRun run = Run({"optimize", "--output", images, turm, turmHoch});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "turm.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Ausgabedatei wäre "
            "ein Quellbild des Stapels \xE2\x80\x93 Original behalten   |   Kandidaten 0/0");
  EXPECT_EQ(ReadTextFile(turmHoch), before);
}

TEST_F(CliProgramTest, ALaterImageNeverReplacesAnOutputOfTheSameRunWhateverTheJobs) {
  // d1/p.jpg and d2/p.jpg share the output name p_hoch.jpg; d1 is given as a
  // folder.
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "d1")));
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "d2")));
  MakeImage("d1/p.jpg", 14);
  MakeImage("d2/p.jpg", 15, 240);
  MakeImage("q.jpg", 16);
  const std::string written = JoinPath(output, "p_hoch.jpg");
  std::string firstOutput;
  for (const char* jobs : {"1", "3"}) {
    ASSERT_TRUE(DeleteFileAt(written));
    ChildRun run = Run({"optimize", "--jobs", jobs, "--output", output, images + "/q.jpg",
                        images + "/d2/p.jpg", images + "/d1"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    ASSERT_EQ(lines[0].find("Original behalten"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1],
              "p.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Ausgabedatei wurde in "
              "diesem Stapel bereits geschrieben \u2013 Original behalten   |   Kandidaten 0/0");
    EXPECT_EQ(lines[2].rfind("q.jpg   |   ", 0), 0u);
    // The output is d1's, identical whatever the number of jobs.
    if (firstOutput.empty()) firstOutput = ReadTextFile(written);
    EXPECT_FALSE(firstOutput.empty());
    EXPECT_EQ(ReadTextFile(written), firstOutput) << jobs;
  }
}

TEST_F(CliProgramTest, EveryModeGivesAVerdictForEveryImage) {
  const std::string a = MakeImage("a.jpg", 6);
  for (const char* mode : {"0", "1", "2"}) {
    ChildRun run = Run({"optimize", "--mode", mode, "--profile", "5", "--output", output, a});
    EXPECT_EQ(run.status, 0) << mode << run.err;
    ASSERT_EQ(SplitLines(run.out).size(), 2u);
    EXPECT_EQ(SplitLines(run.out)[0].rfind("a.jpg   |   Maximale Kompression   |   ", 0), 0u);
  }
}

TEST_F(CliProgramTest, AnalyzePrintsTheFiguresOrFails) {
  const std::string a = MakeImage("a.jpg", 7);
  const std::string wide = MakeImage("breit.jpg", 7, 260);
  ChildRun run = Run({"analyze", a, a});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 9u);
  const char* names[] = {"global=", "worst5=", "worst=", "color=", "edge=", "ringing=", "banding=",
                         "composite=", "windows="};
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(lines[i].rfind(names[i], 0), 0u) << lines[i];
  EXPECT_NE(lines[8], "windows=0");

  run = Run({"analyze", a, wide});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("windows=0"), std::string::npos);
  run = Run({"analyze", a, temp.Join("fehlt.jpg")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out.empty());
}

TEST_F(CliProgramTest, StatusPrintsTheEncoderReportWithUnixLineEnds) {
  ChildRun run = Run({"status"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Encoder-Status\n\n", 0), 0u);
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  // Each tool this build embedded is listed with the version the build recorded.
  const std::pair<int, const char*> tools[] = {{kEngineResourceJpegli, "Jpegli: "},
                                               {kEngineResourceMozjpeg, "MozJPEG cjpeg: "},
                                               {kEngineResourceJpegtran, "MozJPEG jpegtran: "}};
  for (const auto& [id, label] : tools) {
    const EngineResource embedded = FindEmbeddedEngineResource(id);
    if (embedded.size == 0) continue;
    const std::string version = embedded.version[0] != '\0' ? embedded.version : "Version unbekannt";
    EXPECT_NE(run.out.find(std::string(label) + "im Programm eingebettet und geladen (" + version +
                           ")\n"),
              std::string::npos)
        << run.out;
  }
}

TEST_F(CliProgramTest, InterruptFinishesTheImagesInFlightAndPrintsTheSummarySoFar) {
  const std::string a = MakeImage("a.jpg", 8, 640);
  // Two images at once: both in flight finish before the run ends.
  std::vector<std::string> arguments = {"optimize", "--jobs", "2", "--output", output};
  for (int i = 0; i < 40; ++i) {
    const std::string copy = JoinPath(images, "kopie" + std::to_string(100 + i) + ".jpg");
    ASSERT_TRUE(CopyFileBytes(a, copy));
    arguments.push_back(copy);
  }
  Child child = StartCli(arguments, tmpdir, temp.path);
  ASSERT_GT(child.pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadTextFile(child.outPath).find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(child.pid, SIGINT);
  ChildRun run = WaitForCli(child);
  EXPECT_EQ(run.status, 130);
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_LT(lines.size(), 41u);
  EXPECT_EQ(lines.back().rfind("Zusammenfassung: " + std::to_string(lines.size() - 1) + " Bilder", 0), 0u);
  EXPECT_NE(run.err.find("Abgebrochen nach"), std::string::npos);
  // Every image got its verdict; only the two in flight, whose tools the
  // interrupt killed, may end as cancelled.
  const size_t results = lines.size() - 1;
  for (size_t i = 0; i < results; ++i) {
    if (lines[i].find("Fehler beim Verarbeiten") == std::string::npos) continue;
    EXPECT_GE(i + 2, results) << lines[i];
    EXPECT_NE(lines[i].find("Fehler beim Verarbeiten \u2013 abgebrochen"), std::string::npos)
        << lines[i];
  }
}

// --- processes and files that must not stop or mislead the program -----------------

TEST_F(CliProgramTest, HungEncoderIsKilledBySigintThenSigtermAndTheEarlierOutputStays) {
  const std::string a = MakeImage("a.jpg", 9);
  const std::string b = MakeImage("b.jpg", 10);
  const std::string earlier = JoinPath(output, "a_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(earlier, "earlier result"));
  Child child = StartCli({"optimize", "--output", output, a, b}, tmpdir, temp.path, StandIn("hang"));
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(WaitForLog("cjpegli hang "));
  ::kill(child.pid, SIGINT);
  ::kill(child.pid, SIGTERM);
  ChildRun run = WaitForCli(child, std::chrono::seconds(60));
  EXPECT_EQ(run.status, 130) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_NE(lines[0].find("Fehler beim Verarbeiten \u2013 abgebrochen"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("Zusammenfassung: 1 Bilder", 0), 0u);
  EXPECT_EQ(ReadTextFile(earlier), "earlier result");
  // The hung tool is gone, not orphaned.
  const std::string log = EncoderLog();
  const pid_t hung = std::atoi(log.c_str() + log.find("cjpegli hang ") + 13);
  ASSERT_GT(hung, 0);
  EXPECT_TRUE(::kill(hung, 0) != 0 && errno == ESRCH);
}

TEST_F(CliProgramTest, FoldersOfARunKilledMidBatchAreRemovedAtTheNextStart) {
  std::vector<std::string> arguments = {"optimize", "--output", output};
  std::string sourceBytes;
  for (int i = 0; i < 3; ++i) {
    arguments.push_back(MakeImage(std::string(1, static_cast<char>('a' + i)) + ".jpg", 20 + i));
    sourceBytes += ReadTextFile(arguments.back());
    ASSERT_TRUE(WriteTextFile(JoinPath(output, std::string(1, static_cast<char>('a' + i)) + "_hoch.jpg"),
                              "earlier result"));
  }
  Child child = StartCli(arguments, tmpdir, temp.path, StandIn("sleep:300"));
  ASSERT_GT(child.pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadTextFile(child.outPath).find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(child.pid, SIGKILL);  // in the middle of the second image
  EXPECT_EQ(WaitForCli(child).status, -1);

  std::vector<std::string> left;
  FindLeftovers(tmpdir, left);
  EXPECT_FALSE(left.empty()) << "the killed run left its engine folder";
  EXPECT_EQ(ReadTextFile(arguments[3]) + ReadTextFile(arguments[4]) + ReadTextFile(arguments[5]),
            sourceBytes);
  // Each output is the earlier one or a complete new one, never a part.
  for (const char* name : {"a_hoch.jpg", "b_hoch.jpg", "c_hoch.jpg"}) {
    PixelImage decoded;
    EXPECT_TRUE(ReadTextFile(JoinPath(output, name)) == "earlier result" ||
                DecodeImageFile(JoinPath(output, name), decoded)) << name;
  }
  // Any later start removes what the killed run left; TearDown checks it.
  EXPECT_EQ(Run({"status"}).status, 0);
}

TEST_F(CliProgramTest, ProgramStartedWithSigchldIgnoredStillUsesItsTools) {
  const std::string a = MakeImage("a.jpg", 11);
  Launch launch = StandIn("ok");
  launch.ignoreChildSignal = true;
  ChildRun run = Run({"optimize", "--output", output, a}, launch);
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(SplitLines(run.out).size(), 2u) << run.out;
  EXPECT_NE(SplitLines(run.out)[0].find("   |   Jpegli "), std::string::npos) << run.out;
  EXPECT_NE(SplitLines(run.out)[1].find("   |   1 optimiert   |   "), std::string::npos);
  EXPECT_NE(EncoderLog().find("cjpegli done"), std::string::npos);
}

TEST_F(CliProgramTest, NamedPipeAmongTheSourcesFailsWithoutBlocking) {
  const std::string a = MakeImage("a.jpg", 12);
  const std::string pipe = JoinPath(images, "pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ChildRun run = Run({"optimize", "--output", output, a, pipe});
  EXPECT_EQ(run.status, 1) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[1].rfind("pipe.jpg   |   ", 0), 0u);
  EXPECT_NE(lines[1].find("Fehler beim Verarbeiten"), std::string::npos);
}
