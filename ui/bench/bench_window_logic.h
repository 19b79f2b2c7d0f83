// The rules of the profile-development window, without any widget: its
// texts, control ids, the layout rectangles, what a refresh shows (status,
// progress and counts lines, progress bar, which buttons are enabled), the
// limits a start reads from the fields, the final message, and the seam
// through which the window shows message boxes and the folder chooser.
//
// A refresh works from a BenchSnapshot, the session's figures read once, so
// the view follows from plain values and tests check it without a display or
// a worker. bench_window.cpp applies the results to the Qt widgets; the
// session and the worker are bench/session.h and bench/worker.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "bench/session.h"
#include "ui/main/main_layout.h"

// --- Control ids --------------------------------------------------------------

constexpr int kBenchIdRootField = 4101;
constexpr int kBenchIdFolderButton = 4102;
constexpr int kBenchIdPerFolderField = 4103;
constexpr int kBenchIdTotalField = 4104;
constexpr int kBenchIdDepthBox = 4105;
constexpr int kBenchIdStartButton = 4106;
constexpr int kBenchIdPauseButton = 4107;
constexpr int kBenchIdContinueButton = 4108;
constexpr int kBenchIdCancelButton = 4109;
constexpr int kBenchIdProgressBar = 4110;
constexpr int kBenchIdStatusLine = 4111;
constexpr int kBenchIdProgressLine = 4112;
constexpr int kBenchIdCountsLine = 4113;

// --- Window -------------------------------------------------------------------

constexpr int kBenchWindowWidth = 1080;    // pixels
constexpr int kBenchWindowHeight = 520;    // pixels
constexpr int kBenchRefreshPeriodMs = 300; // the refresh timer
constexpr int kBenchBandHeight = 48;       // the painted band at the top, pixels

constexpr const char* kBenchWindowTitle = "Profilentwicklung \u2013 Orvel JPEG Optimizer";
constexpr const char* kBenchHeading =
    "Qualit\u00e4tsprofile offline entwickeln \u2013 Benchmark & Wissensdaten";

// Colours of the painting, red, green, blue.
struct BenchColor {
  int red = 0;
  int green = 0;
  int blue = 0;
};
constexpr BenchColor kBenchBackground{240, 247, 255};
constexpr BenchColor kBenchBand{43, 101, 208};

// --- Control texts ------------------------------------------------------------

constexpr const char* kBenchFolderButtonText = "Verzeichnis\u2026";
constexpr const char* kBenchStartButtonText = "Analyse starten";
constexpr const char* kBenchPauseButtonText = "Pausieren";
constexpr const char* kBenchContinueButtonText = "Fortfahren";
constexpr const char* kBenchCancelButtonText = "Abbrechen";
constexpr const char* kBenchPerFolderInitial = "5";
constexpr const char* kBenchTotalInitial = "5000";

// The depth box's items, in order; kBenchDefaultDepth (Standard) is selected.
constexpr std::array<const char*, 3> kBenchDepthItems = {
    "Kompakt (~20\u201330 Kandidaten)", "Standard (~40\u201360 Kandidaten)",
    "Tiefenanalyse (~80+ Kandidaten)"};
constexpr int kBenchDefaultDepth = 1;

// The four labels with their fixed rectangles.
struct BenchLabel {
  const char* text;
  PixelRect rect;
};
constexpr std::array<BenchLabel, 4> kBenchLabels = {{
    {"Tempor\u00e4rer Bildbestand (Unterverzeichnisse werden rekursiv durchsucht):",
     {22, 58, 740, 24}},
    {"Max. Bilder je Unterverzeichnis:", {22, 146, 190, 24}},
    {"Max. Gesamtbilder:", {360, 146, 170, 24}},
    {"Testtiefe:", {690, 146, 76, 24}},
}};

// --- Status texts and messages ------------------------------------------------

constexpr const char* kBenchStatusPaused =
    "Pausiert \u2013 Fortfahren setzt exakt an dieser Sitzung fort.";
constexpr const char* kBenchStatusRunning = "Profiltest l\u00e4uft\u2026";
constexpr const char* kBenchStatusInterrupted =
    "Unterbrochen \u2013 die Sitzung kann fortgesetzt werden.";
constexpr const char* kBenchStatusReady = "Bereit. Verzeichnis ausw\u00e4hlen und Analyse starten.";
constexpr const char* kBenchStatusFinished = "Profiltest abgeschlossen.";
constexpr const char* kBenchStatusScanning =
    "Durchsuche Verzeichnisstruktur und bilde ausgewogene Stichprobe\u2026";
constexpr const char* kBenchStatusCancelRequested =
    "Abbruch angefordert \u2013 aktuelle Encoderoperation wird beendet, Fortschritt bleibt "
    "gespeichert.";

constexpr const char* kBenchMessageTitle = "Profilentwicklung";
constexpr const char* kBenchFolderDialogTitle = "Bildbestand f\u00fcr Profilentwicklung ausw\u00e4hlen";
constexpr const char* kBenchMessageNoFolder = "Bitte zuerst ein g\u00fcltiges Verzeichnis ausw\u00e4hlen.";
constexpr const char* kBenchQuestionReplaceSession =
    "Es existiert eine unterbrochene Profiltest-Sitzung. Mit einem neuen Test wird der "
    "Fortsetzungszeiger ersetzt; die bereits erzeugten CSV-Daten bleiben erhalten. Neuen Test "
    "starten?";
constexpr const char* kBenchMessageNoImages = "Es wurden keine unterst\u00fctzten Bilder gefunden.";
constexpr const char* kBenchMessageRunNotCreated =
    "Die Benchmark-Sitzung konnte nicht angelegt werden.";
constexpr const char* kBenchMessageCloseRefused =
    "Der Profiltest l\u00e4uft noch. Bitte zuerst pausieren oder abbrechen.";
// The same refusal while the run is paused: pausing is done already.
constexpr const char* kBenchMessageCloseRefusedPaused =
    "Der Profiltest ist pausiert. Bitte zuerst fortfahren oder abbrechen.";

// "Profiltest abgeschlossen.\r\n\r\nRohdaten:\r\n" + csvPath + the lines on
// the summary, the manifest and what the data are for ("\r\n" line ends).
std::string RunFinishedMessage(const std::string& csvPath);

// --- Layout -------------------------------------------------------------------

// Where the thirteen controls with an id sit for a client width. Widths that
// would turn negative in a very narrow window are 0.
struct BenchWindowLayout {
  PixelRect rootField;
  PixelRect folderButton;
  PixelRect perFolderField;
  PixelRect totalField;
  PixelRect depthBox;  // the closed box and its opened list together
  PixelRect startButton;
  PixelRect pauseButton;
  PixelRect continueButton;
  PixelRect cancelButton;
  PixelRect progressBar;
  PixelRect statusLine;
  PixelRect progressLine;
  PixelRect countsLine;
};

BenchWindowLayout LayoutBenchWindow(int clientWidth);

// The heading's rectangle on the band: 22, 8 to W - 22, 42.
PixelRect BenchHeadingRect(int clientWidth);

// --- Refresh ------------------------------------------------------------------

// The figures one refresh shows, read from the session at one moment.
struct BenchSnapshot {
  bool running = false;
  bool paused = false;
  std::uint64_t total = 0;          // images in the sample
  std::uint64_t done = 0;           // `completed`
  std::uint64_t nextIndex = 0;
  std::string currentFileName;      // file name of image `nextIndex`; empty beyond the list
  std::uint64_t imagesFound = 0;
  std::uint64_t foldersFound = 0;
  std::int32_t currentCandidate = 0;
  std::int32_t candidateCount = 0;
  std::uint64_t elapsedMs = 0;      // since the worker started, ms; 0 when not running
  bool sessionFileExists = false;
};

// Reads the session. `nowMs` is TickCountMs(); a start tick in the future
// counts as no time passed.
BenchSnapshot TakeBenchSnapshot(const BenchmarkSession& session, std::uint64_t nowMs,
                                bool sessionFileExists);

// Everything a refresh puts on screen.
struct BenchWindowView {
  int progressMaximum = 1;  // larger of total and 1 (capped to int)
  int progressValue = 0;    // done (capped to the maximum)
  std::string statusText;
  std::string progressText;
  std::string countsText;
  bool pauseEnabled = false;
  bool continueEnabled = false;
  bool cancelEnabled = false;
  bool startEnabled = true;
  bool folderEnabled = true;
};

BenchWindowView ComposeBenchWindowView(const BenchSnapshot& snapshot);

// The status line alone (part of ComposeBenchWindowView).
std::string BenchStatusText(const BenchSnapshot& snapshot);

// "Bilder: 4 / 10", while running followed by "   |   aktuell: " + name.
std::string BenchProgressText(const BenchSnapshot& snapshot);

// "Gefunden: ... Bilder in ... Verzeichnissen   |   ausgewählt: ...", then
// the candidate and, while running, the run time.
std::string BenchCountsText(const BenchSnapshot& snapshot);

// "<m> min <s> s" from milliseconds, whole seconds.
std::string FormatBenchRunTime(std::uint64_t elapsedMs);

// --- Start --------------------------------------------------------------------

// The limits a start takes from the fields.
struct ProfileTestLimits {
  std::int32_t maxPerFolder = 5;  // images per folder, 1..50
  std::int32_t maxTotal = 5000;   // images in total, 10..50000
  std::int32_t depth = 1;         // "Testtiefe", 0..2
};

// The per-folder text clamped to 1..50 (5 when it holds no number), the total
// clamped to 10..50000 (5000 likewise), and the depth box's selected index,
// or Standard when nothing is selected (`depthIndex` outside 0..2).
ProfileTestLimits ReadProfileTestLimits(const std::string& perFolderText,
                                        const std::string& totalText, int depthIndex);

// The depth box's item for a session's depth; -1 (no selection) outside 0..2.
int DepthBoxIndex(std::int32_t depth);

// --- Dialog seam --------------------------------------------------------------

enum class BenchMessageIcon { Information, Error };

// The window's message boxes and its folder chooser, replaceable so tests
// record messages and feed answers. An empty function means the Qt default,
// owned by the profile-development window.
struct BenchWindowDialogs {
  // A message box with an OK button.
  std::function<void(const std::string& title, const std::string& text, BenchMessageIcon icon)>
      showMessage;
  // A question with Yes and No; true for Yes.
  std::function<bool(const std::string& title, const std::string& text)> askYesNo;
  // The folder chooser with the given dialog title; false when cancelled.
  std::function<bool(const std::string& dialogTitle, std::string& folder)> chooseFolder;
};

// Installs the functions (a default-constructed record restores the defaults).
// UI thread only.
void SetBenchWindowDialogs(BenchWindowDialogs dialogs);
const BenchWindowDialogs& ActiveBenchWindowDialogs();
