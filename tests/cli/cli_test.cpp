// orvel-cli: the argument parser called directly, and
// the built program run as a child process (exit statuses, usage, result
// lines, the interrupt, and nothing left in the temporary folder).
#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

#include "engines/engine_store.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "core/image_list.h"
#include "core/output_target.h"
#include "imaging/decode.h"
#include "platform/files.h"
#include "tests/cli/cli_runner.h"
#include "tests/core/core_test_support.h"
#include "tests/support/file_system.h"
#include "tests/support/scoped_temp.h"
#include "tests/support/text_lines.h"

namespace {

using Strings = std::vector<std::string>;

// --- parsing and formatting ----------------------------------------------------------

TEST(CliParseTest, OptimizeAnalyzeHelpAndUsageErrors) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(ParseCliArguments({"optimize", "--profile", "stark", "--mode=2", "--output", "/out", "a.jpg", "--",
                                 "-b.jpg"}, o, error)) << error;
  EXPECT_EQ(std::tuple(o.command, o.profile, o.mode, o.jobs), std::tuple(CliCommand::kOptimize, 4, 2, 0));  // jobs automatic
  EXPECT_EQ(o.outputFolder, "/out");
  EXPECT_EQ(o.files, (Strings{"a.jpg", "-b.jpg"}));
  ASSERT_TRUE(ParseCliArguments({"optimize", "--output=/o", "--profile=0", "--jobs=3", "x.jpg"}, o, error));
  EXPECT_EQ(std::tuple(o.profile, o.mode, o.jobs), std::tuple(0, 1, 3));
  ASSERT_TRUE(ParseCliArguments({"optimize", "--jobs", "256", "--output", "/o"}, o, error));
  EXPECT_EQ(std::tuple(o.jobs, o.profile, o.files.empty()), std::tuple(256, 2, true));
  EXPECT_EQ(std::tuple(o.keepStructure, o.update, o.json), std::tuple(false, false, false));
  ASSERT_TRUE(ParseCliArguments({"optimize", "--json", "--keep-structure", "--output", "/o", "--update", "d"}, o, error));
  EXPECT_EQ(std::tuple(o.keepStructure, o.update, o.json, o.files), std::tuple(true, true, true, Strings{"d"}));
  for (const Strings& help : std::vector<Strings>{{"optimize", "--help"}, {"bench", "-h"}}) {
    ASSERT_TRUE(ParseCliArguments(help, o, error));
    EXPECT_EQ(o.command, CliCommand::kHelp);
  }
  ASSERT_TRUE(ParseCliArguments({"bench", "--depth=0", "--", "-x"}, o, error)) << error;
  EXPECT_EQ(std::tuple(o.command, o.bench.depth), std::tuple(CliCommand::kBench, 0));
  EXPECT_EQ(FileNamePart(o.bench.root), "-x");
  // --replace stands instead of --output; --preserve goes with either.
  const struct { Strings arguments; bool replace, preserve; } flags[] = {
      {{"optimize", "--replace", "a.jpg"}, true, false},
      {{"optimize", "--preserve", "--replace", "a.jpg"}, true, true},
      {{"optimize", "--output", "/o", "--preserve", "a.jpg"}, false, true}};
  for (const auto& c : flags) {
    ASSERT_TRUE(ParseCliArguments(c.arguments, o, error)) << error;
    EXPECT_EQ(std::tuple(o.replace, o.preserve), std::tuple(c.replace, c.preserve));
  }
  ASSERT_TRUE(ParseCliArguments({"analyze", "r.png", "t.jpg"}, o, error));
  EXPECT_EQ(o.reference + " " + o.test, "r.png t.jpg");
  for (const Strings& arguments : std::vector<Strings>{
           {}, {"frobnicate"}, {"optimize", "a.jpg"}, {"optimize", "--output"},
           {"optimize", "--profile", "hochh", "--output", "/o"}, {"optimize", "--profile", "6", "--output", "/o"},
           {"optimize", "--mode", "3", "--output", "/o"}, {"optimize", "--mode", "", "--output", "/o"},
           {"optimize", "--fast", "--output", "/o"}, {"optimize", "--jobs", "0", "--output", "/o"},
           {"optimize", "--jobs", "257", "--output", "/o"}, {"optimize", "--jobs=-1", "--output", "/o"},
           {"optimize", "--jobs", "zwei", "--output", "/o"}, {"optimize", "--output", "/o", "--jobs"},
           {"optimize", "--replace", "--output", "/o", "a.jpg"}, {"optimize", "--output=/o", "--replace", "a.jpg"},
           {"optimize", "--replace=ja", "a.jpg"}, {"optimize", "--preserve", "a.jpg"},
           {"optimize", "--replace", "--update", "a.jpg"}, {"optimize", "--replace", "--keep-structure", "a.jpg"},
           {"optimize", "--json=ja", "--output", "/o"}, {"optimize", "--update=1", "--output", "/o"},
           {"bench", "--json", "/b"}, {"analyze", "one.jpg"}, {"status", "extra"}}) {
    error.clear();
    EXPECT_FALSE(ParseCliArguments(arguments, o, error)) << (arguments.empty() ? "" : arguments.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(CliFormatTest, AnalysisReportAndSummaryLine) {
  QualityReport report;
  report.global = 0.1, report.worst5 = 1.0, report.worst = 2.0 / 3.0, report.composite = 0.95;
  report.windowScores = {0.5, 0.6};
  EXPECT_EQ(FormatAnalysisReport(report),  // seventeen significant digits
            "global=0.10000000000000001\nworst5=1\nworst=0.66666666666666663\ncolor=0\nedge=0\n"
            "ringing=0\nbanding=0\ncomposite=0.94999999999999996\nwindows=2\n");
  BatchSummary s;
  s.images = 3, s.optimized = s.kept = s.failed = 1, s.bytesBefore = 3 << 20, s.bytesAfter = 1536;
  EXPECT_EQ(FormatSummaryLine(s), "Zusammenfassung: 3 Bilder   |   1 optimiert   |   1 Original behalten   |   1 Fehler   |"
                                  "   vorher 3.00 MB (3145728 Bytes)   |   nachher 1.50 KB (1536 Bytes)");
}

// --- the program -------------------------------------------------------------------------

class CliProgramTest : public ::testing::Test {
 protected:
  ScopedTempFolder temp;
  std::string tmpdir = temp.Join("tmp"), images = temp.Join("bilder"), output = temp.Join("ausgabe");

  void SetUp() override { ASSERT_TRUE(EnsureFolder(tmpdir, 0700) && EnsureFolder(images) && EnsureFolder(output)); }
  void TearDown() override { EXPECT_EQ(LeftoverWorkFolders(tmpdir), Strings{}); }

  // A photo-like JPEG at quality 97 in the image folder.
  std::string MakeImage(const std::string& name, std::uint32_t seed, std::uint32_t width = 200) {
    EXPECT_TRUE(WriteTestJpeg(JoinPath(images, name), MakeTestPicture(width, 150, seed), 97));
    return JoinPath(images, name);
  }
  CliChild Start(const Strings& arguments, const CliLaunch& launch = {}) { return StartCli(arguments, tmpdir, temp.path, launch); }
  CliRun Run(const Strings& arguments, const CliLaunch& launch = {}) { return WaitForCli(Start(arguments, launch)); }
  // The program with the test encoder as its tools; `behaviour` and the log
  // as the test encoder reads them.
  CliLaunch StandIn(const std::string& behaviour) const {
    return CliLaunch{ORVEL_CLI_STANDIN_PROGRAM,
                     {"ORVEL_TEST_CJPEGLI=" + behaviour, "ORVEL_TEST_ENCODER_LOG=" + temp.Join("encoder.log")}};
  }
  std::string EncoderLog() const { return ReadTextFile(temp.Join("encoder.log")); }
  // The output lines of `run`, which must number `count`.
  static Strings Lines(const CliRun& run, size_t count) {
    Strings lines = SplitLines(run.out);
    EXPECT_EQ(lines.size(), count) << run.out;
    lines.resize(count);
    return lines;
  }
  // Waits up to a minute until `path` holds `text`.
  static bool WaitFor(const std::string& path, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (; ReadTextFile(path).find(text) == std::string::npos; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return true;
  }
};

TEST_F(CliProgramTest, HelpUsageErrorsAndMissingOutputFolderOrImagesAreRefused) {
  const CliRun help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"Aufruf:", "max_kompression",
                           "orvel-cli optimize [--profile SCHLÜSSEL|0-5] [--mode 0-2] [--jobs N]\n"
                           "                     [--preserve] [--keep-structure] [--update] [--json]\n"
                           "                     --output ORDNER DATEI|ORDNER...\n",
                           "                     [--json] --replace DATEI|ORDNER...\n"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  const std::string a = MakeImage("a.jpg", 1), missing = temp.Join("gibt-es-nicht");
  const std::string noOutput = "Bitte einen gültigen Ausgabepfad auswählen.\n",
                    noImages = "Bitte zuerst mindestens ein JPEG-Bild hinzufügen.\n";
  // A file is not a folder; a folder without JPEG files holds no images.
  for (const auto& [arguments, err] : std::vector<std::pair<Strings, std::string>>{
           {{}, "Aufruf:"}, {{"optimize", "x.jpg"}, "Aufruf:"}, {{"analyze", "x"}, "Aufruf:"}, {{"zauber"}, "Aufruf:"},
           {{"optimize", "--output", missing, a}, noOutput}, {{"optimize", "--output", a, a}, ""},
           {{"optimize", "--output", output}, noImages}, {{"optimize", "--output", output, output}, noImages},
           {{"optimize", "--\x1b]0;x\x07", "--output", output, a}, "Unbekannte Option: --\\x1b]0;x\\x07"}}) {
    const CliRun run = Run(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(!err.empty() && err.back() == '\n' ? run.err == err : run.err.find(err) != std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  EXPECT_FALSE(PathExists(missing));
}

// One line per image in list order and a summary; a named pipe fails without
// blocking. A name can neither forge a line nor reach the terminal as a
// control sequence (nor can an option, in the usage error that quotes it).
TEST_F(CliProgramTest, OptimizePrintsOneEscapedLinePerImageInListOrderAndASummary) {
  const std::string b = MakeImage("b.jpg", 2), a = MakeImage("a.jpg", 3), broken = JoinPath(images, "kaputt.jpg");
  const std::string pipe = JoinPath(images, "pipe.jpg"), forged = MakeImage("x\nZusammenfassung: 9 Bilder\x1b[2J.jpg", 6);
  ASSERT_TRUE(WriteTextFile(broken, "kein Bild"));
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const CliRun run = Run({"optimize", "--profile", "hoch", "--output", output, b, a, images + "/./a.jpg", broken, pipe,
                          forged, MakeImage("M\xFCnchen.jpg", 7)});
  EXPECT_EQ(run.status, 1);  // images failed
  const Strings lines = Lines(run, 7);
  EXPECT_EQ(lines[0].rfind("M\xEF\xBF\xBDnchen.jpg   |   ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("a.jpg   |   Hohe Qualität (empfohlen)   |   ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("b.jpg   |   Hohe Qualität (empfohlen)   |   ", 0), 0u);
  EXPECT_EQ(lines[3], "kaputt.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Fehler beim "
                      "Verarbeiten \u2013 kein Bild oder unbekanntes Format   |   Kandidaten 0/0");
  EXPECT_EQ(lines[4].rfind("pipe.jpg   |   ", 0), 0u);
  EXPECT_NE(lines[4].find("Fehler beim Verarbeiten"), std::string::npos);
  EXPECT_EQ(lines[5].rfind("x\\nZusammenfassung: 9 Bilder\\x1b[2J.jpg   |   ", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("Zusammenfassung: 6 Bilder   |   ", 0), 0u);
  EXPECT_NE(lines[6].find("   |   2 Fehler   |   "), std::string::npos);
  // A line names an output exactly when the image was optimised.
  for (const auto& [line, name] : {std::pair{lines[1], "a_hoch.jpg"}, std::pair{lines[2], "b_hoch.jpg"}}) {
    EXPECT_EQ(PathExists(JoinPath(output, name)), line.find("   |   Original behalten   |   ") == std::string::npos) << line;
  }
  EXPECT_TRUE(run.err.empty()) << run.err;  // standard error is no terminal here: no progress line
}

TEST_F(CliProgramTest, OutputThatWouldOverwriteAnotherSourceIsRefusedEvenWithSigchldIgnored) {
  const std::string turm = MakeImage("turm.jpg", 4), turmHoch = MakeImage("turm_hoch.jpg", 5);
  const std::string before = ReadTextFile(turmHoch);
  CliLaunch launch = StandIn("ok");
  launch.ignoreChildSignal = true;  // the tools must still be waited for
  const CliRun run = Run({"optimize", "--output", images, turm, turmHoch}, launch);
  EXPECT_EQ(run.status, 0) << run.err;
  const Strings lines = Lines(run, 3);
  EXPECT_EQ(lines[0], "turm.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Ausgabedatei wäre "
                      "ein Quellbild des Stapels \xE2\x80\x93 Original behalten   |   Kandidaten 0/0");
  EXPECT_NE(lines[1].find("   |   Jpegli "), std::string::npos);
  EXPECT_NE(lines[2].find("   |   1 optimiert   |   "), std::string::npos);
  EXPECT_NE(EncoderLog().find("cjpegli done"), std::string::npos);
  EXPECT_EQ(ReadTextFile(turmHoch), before);
}

TEST_F(CliProgramTest, ALaterImageNeverReplacesAnOutputOfTheSameRunWhateverTheJobs) {
  // d1/p.jpg and d2/p.jpg share the output name p_hoch.jpg; d1 is given as a folder.
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "d1")) && EnsureFolder(JoinPath(images, "d2")));
  MakeImage("d1/p.jpg", 14), MakeImage("d2/p.jpg", 15, 240), MakeImage("q.jpg", 16);
  const std::string written = JoinPath(output, "p_hoch.jpg");
  std::string firstOutput;  // d1's output, identical whatever the number of jobs
  for (const char* jobs : {"1", "3"}) {
    ASSERT_TRUE(DeleteFileAt(written));
    const CliRun run = Run({"optimize", "--jobs", jobs, "--output", output, images + "/q.jpg", images + "/d2/p.jpg",
                            images + "/d1"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Strings lines = Lines(run, 4);
    ASSERT_EQ(lines[0].find("Original behalten"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "p.jpg   |   Hohe Qualität (empfohlen)   |   Original behalten   |   Ausgabedatei wurde in "
                        "diesem Stapel bereits geschrieben \u2013 Original behalten   |   Kandidaten 0/0");
    EXPECT_EQ(lines[2].rfind("q.jpg   |   ", 0), 0u);
    if (firstOutput.empty()) firstOutput = ReadTextFile(written);
    EXPECT_TRUE(!firstOutput.empty() && ReadTextFile(written) == firstOutput) << jobs;
  }
}

// --replace over a mixed folder, three images at once: the passing image is
// replaced and its original trashed; the kept (PNG content) and the failed
// (undecodable) sources stay byte for byte and send nothing to the trash.
// Together with --output it is a usage error.
TEST_F(CliProgramTest, ReplaceTrashesOnlyReplacedOriginals) {
  CliLaunch launch = StandIn("ok");
  launch.environment.push_back("XDG_DATA_HOME=" + temp.Join("daten"));
  const std::string trashFiles = temp.Join("daten/Trash/files"), png = std::string("\x89PNG\r\n\x1a\n", 8) + "kein JPEG";
  const std::string a = MakeImage("a.jpg", 21), original = ReadTextFile(a);
  ASSERT_TRUE(WriteTextFile(JoinPath(images, "b.jpg"), png) && WriteTextFile(JoinPath(images, "c.jpg"), "kaputt"));
  const CliRun run = Run({"optimize", "--replace", "--jobs", "3", images}, launch);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(Lines(run, 4)[0].find("   |   Jpegli "), std::string::npos) << run.out;
  EXPECT_NE(ReadTextFile(a), original);
  EXPECT_EQ(FolderEntries(trashFiles), Strings{"a.jpg"});
  EXPECT_EQ(ReadTextFile(JoinPath(trashFiles, "a.jpg")), original);
  EXPECT_EQ(ReadTextFile(JoinPath(images, "b.jpg")) + ReadTextFile(JoinPath(images, "c.jpg")), png + "kaputt");
  Strings names = FolderEntries(images);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"a.jpg", "b.jpg", "c.jpg"}));
  const CliRun both = Run({"optimize", "--replace", "--output", output, images}, launch);
  EXPECT_EQ(both.status, 2);
  EXPECT_NE(both.err.find("--replace und --output schließen einander aus."), std::string::npos) << both.err;
}

// The output folder inside the photo folder, run again: the second run sees
// only the photos (no "_hoch_hoch", no source called an output), mirrors them
// the same way whatever the jobs, and --update then skips every one.
TEST_F(CliProgramTest, MirroredLibraryRunAgainNeverTakesItsOutputsAsSourcesAndUpdateSkipsThem) {
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "2023/Urlaub")));
  MakeImage("2023/Urlaub/a.jpg", 40), MakeImage("2023/b.jpg", 41), MakeImage("c.jpg", 42);
  const std::string opt = JoinPath(images, "opt");
  ASSERT_TRUE(EnsureFolder(opt));
  const Strings outputs = {"2023/Urlaub/a_hoch.jpg", "2023/b_hoch.jpg", "c_hoch.jpg"};
  std::string firstBytes;
  for (const char* jobs : {"1", "3"}) {
    const CliRun run = Run({"optimize", "--keep-structure", "--jobs", jobs, "--output", opt, images});
    EXPECT_EQ(run.status, 0) << run.err;
    const Strings lines = Lines(run, 4);
    for (size_t i = 0; i < 3; ++i) EXPECT_NE(lines[i].find(" % kleiner   |   "), std::string::npos) << lines[i];
    EXPECT_EQ(lines[3].rfind("Zusammenfassung: 3 Bilder   |   3 optimiert", 0), 0u) << lines[3];
    std::string bytes;
    for (const std::string& name : outputs) bytes += ReadTextFile(JoinPath(opt, name));
    if (firstBytes.empty()) firstBytes = bytes;
    EXPECT_EQ(bytes, firstBytes) << jobs;
  }
  std::vector<std::string> found;
  CollectJpegFiles(opt, found);
  EXPECT_EQ(found.size(), 3u);
  const CliRun update = Run({"optimize", "--keep-structure", "--update", "--jobs", "2", "--output", opt, images});
  EXPECT_EQ(update.status, 0) << update.err;
  const Strings lines = Lines(update, 4);
  for (size_t i = 0; i < 3; ++i) EXPECT_NE(lines[i].find("Ausgabe ist aktuell \u2013 übersprungen"), std::string::npos) << lines[i];
  EXPECT_NE(lines[3].find("   |   0 optimiert   |   3 Original behalten   |   "), std::string::npos) << lines[3];
}

// A mirrored subfolder that is a link is never written or deleted through.
TEST_F(CliProgramTest, MirroredSubfolderThatIsALinkIsNeverWrittenThrough) {
  ASSERT_TRUE(EnsureFolder(JoinPath(images, "2023")) && EnsureFolder(temp.Join("fremd")));
  MakeImage("2023/a.jpg", 43);
  ASSERT_EQ(::symlink(temp.Join("fremd").c_str(), JoinPath(output, "2023").c_str()), 0);
  const CliRun run = Run({"optimize", "--keep-structure", "--output", output, images});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(Lines(run, 2)[0].find("Fehler beim Verarbeiten \u2013 Ausgabedatei kann nicht geschrieben werden"),
            std::string::npos) << run.out;
  std::vector<std::string> found;
  CollectJpegFiles(temp.Join("fremd"), found);
  EXPECT_TRUE(found.empty());
}

// A mixed batch as JSON, parsed back: one object per image in list order and
// the summary; a file name that is not UTF-8 comes out with U+FFFD.
TEST_F(CliProgramTest, JsonLinesOfAMixedBatchParseBack) {
  const std::string a = MakeImage("a.jpg", 44), b = MakeImage("b.jpg", 45), odd = JoinPath(images, "d\xFF.jpg");
  const std::string broken = JoinPath(images, "kaputt.jpg");
  ASSERT_TRUE(WriteTextFile(broken, "kein Bild") && CopyFileBytes(b, odd));
  ASSERT_EQ(Run({"optimize", "--output", output, a}).status, 0);
  const CliRun run = Run({"optimize", "--json", "--update", "--jobs", "2", "--output", output, images});
  EXPECT_EQ(run.status, 1);  // the broken file failed
  EXPECT_EQ(run.err.find('{'), std::string::npos) << run.err;
  const Strings lines = Lines(run, 5);
  // {result, reason starts with, output written, quality given}
  const std::tuple<const char*, const char*, bool, bool> expected[] = {
      {"kept", "Ausgabe ist aktuell", false, false}, {"optimized", "Optimiert", true, true},
      {"optimized", "Optimiert", true, true}, {"failed", "Fehler beim Verarbeiten", false, false}};
  for (size_t i = 0; i < 4; ++i) {
    const nlohmann::json image = nlohmann::json::parse(lines[i]);
    const auto& [result, reason, written, quality] = expected[i];
    EXPECT_EQ(image.at("result"), result) << lines[i];
    EXPECT_EQ(image.at("reason").get<std::string>().rfind(reason, 0), 0u) << lines[i];
    EXPECT_EQ(!image.at("output").is_null(), written) << lines[i];
    EXPECT_EQ(image.at("quality").is_object() && image.at("quality").size() == 8, quality) << lines[i];
    EXPECT_EQ(image.at("encoder").is_string(), quality) << lines[i];
    EXPECT_TRUE(image.at("ms").is_number() && image.at("bytes_before").get<std::uint64_t>() > 0) << lines[i];
  }
  EXPECT_EQ(nlohmann::json::parse(lines[2]).at("source"), JoinPath(images, "d\uFFFD.jpg"));
  const nlohmann::json summary = nlohmann::json::parse(lines[4]).at("summary");
  EXPECT_EQ(std::tuple(summary.at("images"), summary.at("optimized"), summary.at("kept"), summary.at("failed")),
            std::tuple(4, 2, 1, 1)) << lines[4];
}

TEST_F(CliProgramTest, AnalyzePrintsTheFiguresOrFailsAndStatusAndVersionNameTheEmbeddedTools) {
  const std::string a = MakeImage("a.jpg", 7), wide = MakeImage("breit.jpg", 7, 260);
  CliRun run = Run({"analyze", a, a});
  EXPECT_EQ(run.status, 0) << run.err;
  const Strings lines = Lines(run, 9);  // the report's text is checked with its formatter
  EXPECT_EQ(std::tuple(lines[0].rfind("global=", 0), lines[8] != "windows=0"), std::tuple(0u, true)) << run.out;
  run = Run({"analyze", a, wide});
  EXPECT_EQ(std::tuple(run.status, run.out.find("windows=0") != std::string::npos), std::tuple(1, true));
  run = Run({"analyze", a, temp.Join("fehlt.jpg")});
  EXPECT_EQ(std::tuple(run.status, run.out), std::tuple(1, ""));
  run = Run({"status"});
  EXPECT_EQ(std::tuple(run.status, run.out.rfind("Encoder-Status\n\n", 0), run.out.find('\r')),
            std::tuple(0, 0u, std::string::npos));
  // Each tool this build embedded is listed with the version the build
  // recorded, by status and by --version (which works after a command too).
  const CliRun versionRun = Run({"optimize", "--version"});
  EXPECT_EQ(std::tuple(versionRun.status, versionRun.out.rfind("orvel-cli (Orvel JPEG Optimizer) 1.3.3\n", 0)),
            std::tuple(0, 0u));
  for (const auto& [id, label, name] : {std::tuple{kEngineResourceJpegli, "Jpegli: ", "cjpegli: "},
                                        std::tuple{kEngineResourceMozjpeg, "MozJPEG cjpeg: ", "cjpeg: "},
                                        std::tuple{kEngineResourceJpegtran, "MozJPEG jpegtran: ", "jpegtran: "}}) {
    const EngineResource embedded = FindEmbeddedEngineResource(id);
    const std::string version = embedded.size > 0 && embedded.version[0] != '\0' ? embedded.version : "Version unbekannt";
    EXPECT_TRUE(embedded.size == 0 ||
                run.out.find(label + std::string("im Programm eingebettet und geladen (") + version + ")\n") !=
                    std::string::npos) << run.out;
    const std::string versionLine = "  " + std::string(name) + (embedded.size == 0 ? "nicht eingebettet" : version) + "\n";
    EXPECT_NE(versionRun.out.find(versionLine), std::string::npos) << versionRun.out;
  }
}

TEST_F(CliProgramTest, InterruptFinishesTheImagesInFlightAndPrintsTheSummarySoFar) {
  const std::string a = MakeImage("a.jpg", 8, 640);
  // Two images at once: both in flight finish before the run ends.
  Strings arguments = {"optimize", "--jobs", "2", "--output", output};
  for (int i = 0; i < 40; ++i) {
    arguments.push_back(JoinPath(images, "kopie" + std::to_string(100 + i) + ".jpg"));
    ASSERT_TRUE(CopyFileBytes(a, arguments.back()));
  }
  const CliChild child = Start(arguments);
  ASSERT_TRUE(child.pid > 0 && WaitFor(child.outPath, "\n") && ::kill(child.pid, SIGINT) == 0);
  const CliRun run = WaitForCli(child);
  EXPECT_EQ(run.status, 130);
  const Strings lines = SplitLines(run.out);
  ASSERT_TRUE(lines.size() >= 2 && lines.size() < 41) << run.out;
  EXPECT_EQ(lines.back().rfind("Zusammenfassung: " + std::to_string(lines.size() - 1) + " Bilder", 0), 0u);
  EXPECT_NE(run.err.find("Abgebrochen nach"), std::string::npos);
  // Every image got its verdict; only the two in flight, whose tools the
  // interrupt killed, may end as cancelled.
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].find("Fehler beim Verarbeiten") == std::string::npos) continue;
    EXPECT_GE(i + 3, lines.size()) << lines[i];
    EXPECT_NE(lines[i].find("Fehler beim Verarbeiten \u2013 abgebrochen"), std::string::npos) << lines[i];
  }
}

// --- processes and files that must not stop or mislead the program -----------------

// A second run into an output folder that a running orvel-cli is writing
// refuses before it touches anything; the folder is free again afterwards.
TEST_F(CliProgramTest, ASecondRunIntoABusyOutputFolderIsRefused) {
  const std::string a = MakeImage("a.jpg", 15), b = MakeImage("a.jpeg", 16), earlier = JoinPath(output, "a_hoch.jpg");
  const CliChild first = Start({"optimize", "--output", output, a}, StandIn("sleep:1500"));
  ASSERT_TRUE(first.pid > 0 && WaitFor(temp.Join("encoder.log"), "cjpegli"));
  ASSERT_TRUE(EnsureFolder(temp.Join("second")));
  const CliRun second = WaitForCli(StartCli({"optimize", "--output", output, b}, tmpdir, temp.Join("second")));
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find(kMessageOutputFolderBusy),
            std::string::npos) << second.err;
  EXPECT_TRUE(second.out.empty()) << second.out;
  EXPECT_EQ(WaitForCli(first).status, 0);
  const std::string written = ReadTextFile(earlier);
  EXPECT_FALSE(written.empty());
  EXPECT_EQ(Run({"optimize", "--output", output, b}).status, 0);
}

// A run in another PID namespace, whose pid means nothing here, keeps its
// engine and work folders through our sweep and finishes with its tools.
TEST_F(CliProgramTest, ARunInAnotherPidNamespaceSurvivesOurSweep) {
  const std::string unshare = "/usr/bin/unshare";
  if (::access(unshare.c_str(), X_OK) != 0 || std::system((unshare + " -rpf --mount-proc true 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no PID namespaces here";
  }
  const std::string a = MakeImage("a.jpg", 17);
  CliLaunch launch = StandIn("sleep:1500");
  launch.program = unshare;
  // A few processes first: the run's pid there is then one unlikely to live here.
  const CliChild inner = Start({"-rpf", "--mount-proc", "sh", "-c", "for i in 1 2 3 4 5 6 7 8 9; do /bin/true; done; \"$0\" \"$@\"",
                                ORVEL_CLI_STANDIN_PROGRAM, "optimize", "--output", output, a}, launch);
  ASSERT_TRUE(inner.pid > 0 && WaitFor(temp.Join("encoder.log"), "cjpegli"));
  ASSERT_TRUE(EnsureFolder(temp.Join("sweep")));
  EXPECT_EQ(WaitForCli(StartCli({"status"}, tmpdir, temp.Join("sweep"))).status, 0);
  const CliRun run = WaitForCli(inner);
  EXPECT_EQ(run.status, 0) << run.err;
  const Strings lines = Lines(run, 2);
  EXPECT_EQ(lines[0].find("Fehler"), std::string::npos) << lines[0];
}

TEST_F(CliProgramTest, HungEncoderIsKilledBySigintThenSigtermAndTheEarlierOutputStays) {
  const std::string a = MakeImage("a.jpg", 9), b = MakeImage("b.jpg", 10), earlier = JoinPath(output, "a_hoch.jpg");
  ASSERT_TRUE(WriteTextFile(earlier, "earlier result"));
  // One at a time: b is never started.
  const CliChild child = Start({"optimize", "--jobs", "1", "--output", output, a, b}, StandIn("hang"));
  ASSERT_TRUE(child.pid > 0 && WaitFor(temp.Join("encoder.log"), "cjpegli hang "));
  ASSERT_TRUE(::kill(child.pid, SIGINT) == 0 && ::kill(child.pid, SIGTERM) == 0);
  const CliRun run = WaitForCli(child, std::chrono::seconds(60));
  EXPECT_EQ(run.status, 130) << run.err;
  const Strings lines = Lines(run, 2);
  EXPECT_NE(lines[0].find("Fehler beim Verarbeiten \u2013 abgebrochen"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("Zusammenfassung: 1 Bilder", 0), 0u);
  EXPECT_EQ(ReadTextFile(earlier), "earlier result");
  // The hung tool is gone, not orphaned.
  const std::string log = EncoderLog();
  const pid_t hung = std::atoi(log.c_str() + log.find("cjpegli hang ") + 13);
  EXPECT_TRUE(hung > 0 && ::kill(hung, 0) != 0 && errno == ESRCH) << log;
}

// What a start an hour after a kill finds: the tools the killed run started
// have ended (they outlive it and may still write into its work folders;
// waited for, up to 20 s, until no process names a path under `folder`), and
// its folders are over an hour old, so one the kill caught before its lock
// file existed counts as abandoned too.
void LetAnHourPass(const std::string& folder) {
  for (int round = 0; round < 1000; ++round) {
    bool found = false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      found = found || ReadTextFile(entry.path().string() + "/cmdline").find(folder) != std::string::npos;
    }
    if (!found) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const timespec hoursAgo[2] = {{std::time(nullptr) - 7200, 0}, {std::time(nullptr) - 7200, 0}};
  for (const std::string& leftover : LeftoverWorkFolders(folder)) {
    ::utimensat(AT_FDCWD, leftover.c_str(), hoursAgo, AT_SYMLINK_NOFOLLOW);
  }
}

// What a killed run left is removed at the next start; folders of the user
// that are merely named like ours survive it.
TEST_F(CliProgramTest, FoldersOfARunKilledMidBatchAreRemovedAtTheNextStart) {
  const Strings names = {"TALV_999999_Urlaub2023", "TALV_999999_1_0", "engines_1.3.3_999999"};
  for (const std::string& name : names) {
    ASSERT_TRUE(EnsureFolder(JoinPath(tmpdir, name + "/raw")));
    ASSERT_TRUE(WriteTextFile(JoinPath(tmpdir, name + "/raw/bild.jpg"), "photo"));
    const timespec old[2] = {{std::time(nullptr) - 7200, 0}, {std::time(nullptr) - 7200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, JoinPath(tmpdir, name).c_str(), old, 0), 0);
  }
  Strings arguments = {"optimize", "--output", output};
  std::string sourceBytes;
  for (const char* name : {"a", "b", "c"}) {
    arguments.push_back(MakeImage(std::string(name) + ".jpg", 20u + name[0]));
    sourceBytes += ReadTextFile(arguments.back());
    ASSERT_TRUE(WriteTextFile(JoinPath(output, std::string(name) + "_hoch.jpg"), "earlier result"));
  }
  const CliChild child = Start(arguments, StandIn("sleep:300"));
  ASSERT_TRUE(child.pid > 0 && WaitFor(child.outPath, "\n"));
  ::kill(child.pid, SIGKILL);  // in the middle of the second image
  EXPECT_EQ(WaitForCli(child).status, -1);
  EXPECT_GT(LeftoverWorkFolders(tmpdir).size(), names.size()) << "the killed run left its engine folder";
  EXPECT_EQ(ReadTextFile(arguments[3]) + ReadTextFile(arguments[4]) + ReadTextFile(arguments[5]), sourceBytes);
  // Each output is the earlier one or a complete new one, never a part.
  for (const char* name : {"a_hoch.jpg", "b_hoch.jpg", "c_hoch.jpg"}) {
    PixelImage decoded;
    EXPECT_TRUE(ReadTextFile(JoinPath(output, name)) == "earlier result" || DecodeImageFile(JoinPath(output, name), decoded))
        << name;
  }
  LetAnHourPass(tmpdir);
  EXPECT_EQ(Run({"status"}).status, 0);  // any later start removes what the killed run left; TearDown checks it
  for (const std::string& name : names) {
    EXPECT_EQ(ReadTextFile(JoinPath(tmpdir, name + "/raw/bild.jpg")), "photo") << name;
    RemoveFolderTree(JoinPath(tmpdir, name));
  }
}

}  // namespace
