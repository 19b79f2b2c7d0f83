// The profile-development window's rules; see bench_window_logic.h.
#include "ui/bench/bench_window_logic.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "bench/sampling.h"
#include "core/display_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

const char* const kSeparator = "   |   ";

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

int CapToInt(std::uint64_t value) {
  return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX));
}

BenchWindowDialogs& Dialogs() {
  static BenchWindowDialogs dialogs;
  return dialogs;
}

}  // namespace

std::string RunFinishedMessage(const std::string& csvPath) {
  return "Profiltest abgeschlossen.\r\n\r\nRohdaten:\r\n" + csvPath +
         "\r\n\r\nZusammenfassung: candidate_summary.csv\r\nManifest: benchmark_manifest.txt"
         "\r\n\r\nDiese Daten sind f\u00fcr die sp\u00e4tere statistische Kalibrierung der festen "
         "Qualit\u00e4tsprofile vorgesehen.";
}

BenchWindowLayout LayoutBenchWindow(int clientWidth) {
  const int w = clientWidth;
  const int lineWidth = std::max(w - 44, 0);
  BenchWindowLayout layout;
  layout.rootField = {22, 86, std::max(w - 194, 0), 32};
  layout.folderButton = {w - 160, 86, 138, 32};
  layout.perFolderField = {232, 142, 72, 28};
  layout.totalField = {562, 142, 92, 28};
  // Wider than designed (832, 190 wide), reaching the folder button's right
  // edge: the items ("Tiefenanalyse (~80+ Kandidaten)") need about 280 pixels
  // with their arrow and were cut off.
  layout.depthBox = {770, 140, 288, 180};
  layout.startButton = {22, 196, 210, 44};
  layout.pauseButton = {246, 196, 130, 44};
  layout.continueButton = {390, 196, 130, 44};
  layout.cancelButton = {534, 196, 130, 44};
  layout.progressBar = {22, 270, lineWidth, 28};
  layout.statusLine = {22, 315, lineWidth, 32};
  layout.progressLine = {22, 352, lineWidth, 30};
  layout.countsLine = {22, 386, lineWidth, 46};
  return layout;
}

PixelRect BenchHeadingRect(int clientWidth) { return {22, 8, std::max(clientWidth - 44, 0), 34}; }

BenchSnapshot TakeBenchSnapshot(const BenchmarkSession& session, std::uint64_t nowMs,
                                bool sessionFileExists) {
  BenchSnapshot snapshot;
  snapshot.running = session.running.load();
  snapshot.paused = session.paused.load();
  snapshot.total = session.images.size();
  snapshot.done = session.completed.load();
  snapshot.nextIndex = session.nextIndex.load();
  if (snapshot.nextIndex < snapshot.total) {
    snapshot.currentFileName = EscapeForDisplay(FileNamePart(session.images[snapshot.nextIndex]));
  }
  snapshot.imagesFound = session.imagesFound;
  snapshot.foldersFound = session.foldersFound;
  snapshot.currentCandidate = session.currentCandidate.load();
  snapshot.candidateCount = session.candidateCount.load();
  const std::uint64_t start = session.startTick.load();
  snapshot.elapsedMs = snapshot.running && nowMs > start ? nowMs - start : 0;
  snapshot.sessionFileExists = sessionFileExists;
  return snapshot;
}

std::string BenchStatusText(const BenchSnapshot& s) {
  if (s.running) return s.paused ? kBenchStatusPaused : kBenchStatusRunning;
  if (s.total > 0 && s.done >= s.total) return kBenchStatusFinished;
  return s.done > 0 ? kBenchStatusInterrupted : kBenchStatusReady;
}

std::string BenchProgressText(const BenchSnapshot& s) {
  std::string text = "Bilder: " + Decimal(s.done) + " / " + Decimal(s.total);
  if (s.running && s.nextIndex < s.total) text += kSeparator + ("aktuell: " + s.currentFileName);
  return text;
}

std::string FormatBenchRunTime(std::uint64_t elapsedMs) {
  const std::uint64_t seconds = elapsedMs / 1000;
  return Decimal(seconds / 60) + " min " + Decimal(seconds % 60) + " s";
}

std::string BenchCountsText(const BenchSnapshot& s) {
  std::string text = "Gefunden: " + Decimal(s.imagesFound) + " Bilder in " +
                     Decimal(s.foldersFound) + " Verzeichnissen" + kSeparator +
                     "ausgew\u00e4hlt: " + Decimal(s.total);
  if (s.candidateCount > 0) {
    text += kSeparator + ("Kandidat " + FormatInteger(s.currentCandidate) + " / " +
                          FormatInteger(s.candidateCount));
  }
  if (s.running) text += kSeparator + ("Laufzeit: " + FormatBenchRunTime(s.elapsedMs));
  return text;
}

BenchWindowView ComposeBenchWindowView(const BenchSnapshot& s) {
  BenchWindowView view;
  view.progressMaximum = std::max(CapToInt(s.total), 1);
  view.progressValue = std::min(CapToInt(s.done), view.progressMaximum);
  view.statusText = BenchStatusText(s);
  view.progressText = BenchProgressText(s);
  view.countsText = BenchCountsText(s);
  view.pauseEnabled = s.running && !s.paused;
  view.continueEnabled =
      (s.running && s.paused) || (!s.running && s.done < s.total && s.sessionFileExists);
  view.cancelEnabled = s.running;
  view.startEnabled = !s.running;
  view.folderEnabled = !s.running;
  return view;
}

ProfileTestLimits ReadProfileTestLimits(const std::string& perFolderText,
                                        const std::string& totalText, int depthIndex) {
  ProfileTestLimits limits;
  limits.maxPerFolder =
      ReadClampedInteger(perFolderText, kPerFolderDefault, kPerFolderMinimum, kPerFolderMaximum);
  limits.maxTotal = ReadClampedInteger(totalText, kTotalDefault, kTotalMinimum, kTotalMaximum);
  const bool selected = depthIndex >= 0 && depthIndex < static_cast<int>(kBenchDepthItems.size());
  limits.depth = selected ? depthIndex : kBenchDefaultDepth;
  return limits;
}

int DepthBoxIndex(std::int32_t depth) {
  return depth >= 0 && depth < static_cast<std::int32_t>(kBenchDepthItems.size()) ? depth : -1;
}

void SetBenchWindowDialogs(BenchWindowDialogs dialogs) { Dialogs() = std::move(dialogs); }

const BenchWindowDialogs& ActiveBenchWindowDialogs() { return Dialogs(); }
