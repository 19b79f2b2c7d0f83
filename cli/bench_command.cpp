// The bench command of orvel-cli; see bench_command.h. Neighbours:
// bench/ (sampling, session, run creation, worker, run parts), cli_options.cpp
// (the parsed arguments), cli_commands.cpp (the embedded encoders around it).
#include "cli/bench_command.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "bench/raw_results.h"
#include "bench/run_parts.h"
#include "bench/sampling.h"
#include "core/display_text.h"
#include "bench/session.h"
#include "bench/worker.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr long kPollNanoseconds = 250000000;
const char* const kSeparator = "   |   ";

void WriteText(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// Blocks SIGINT and SIGTERM in this thread (and so in the worker and the
// encoder tools it starts) and restores the former mask afterwards.
struct InterruptBlock {
  sigset_t signals;
  sigset_t previous;
  InterruptBlock() {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
  }
  ~InterruptBlock() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  InterruptBlock(const InterruptBlock&) = delete;
  InterruptBlock& operator=(const InterruptBlock&) = delete;

  // Waits up to `nanoseconds` for a signal; its number, or 0.
  int Wait(long nanoseconds) const {
    const timespec timeout{0, nanoseconds};
    const int received = sigtimedwait(&signals, nullptr, &timeout);
    return received > 0 ? received : 0;
  }
};

// Drops the worker's hooks when the command ends, however it ends.
struct NotificationsGuard {
  BenchmarkWorker& worker;
  explicit NotificationsGuard(BenchmarkWorker& owned) : worker(owned) {}
  ~NotificationsGuard() { SetBenchmarkNotifications(worker, BenchmarkNotifications{}); }
  NotificationsGuard(const NotificationsGuard&) = delete;
  NotificationsGuard& operator=(const NotificationsGuard&) = delete;
};

// "Bilder: 3 / 10   |   aktuell: a.jpg   |   Kandidat 5 / 22   |   Laufzeit: 0 min 12 s"
std::string FormatProgress(const BenchmarkSession& session) {
  const std::uint64_t total = session.images.size();
  const std::uint64_t next = session.nextIndex.load();
  std::string line = "Bilder: " + std::to_string(session.completed.load()) + " / " +
                     std::to_string(total);
  if (session.running.load() && next < total) {
    line += kSeparator + std::string("aktuell: ") + EscapeForDisplay(FileNamePart(session.images[next]));
  }
  const std::int32_t count = session.candidateCount.load();
  if (count > 0) {
    line += kSeparator + std::string("Kandidat ") + FormatInteger(session.currentCandidate.load()) +
            " / " + FormatInteger(count);
  }
  const std::uint64_t seconds = (TickCountMs() - session.startTick.load()) / 1000;
  line += kSeparator + std::string("Laufzeit: ") + std::to_string(seconds / 60) + " min " +
          std::to_string(seconds % 60) + " s";
  return line;
}

// The progress display: one rewritten line on a terminal, otherwise one line
// per image.
struct ProgressDisplay {
  bool terminal = ::isatty(STDERR_FILENO) == 1;
  bool shown = false;
  std::uint64_t lastImage = UINT64_MAX;

  void Refresh(const BenchmarkSession& session) {
    if (terminal) {
      WriteText(stderr, "\r\033[K" + FormatProgress(session));
      shown = true;
      return;
    }
    const std::uint64_t next = session.nextIndex.load();
    if (next == lastImage || next >= session.images.size() || session.currentCandidate.load() == 0) {
      return;
    }
    lastImage = next;
    WriteText(stderr, FormatProgress(session) + "\n");
  }
  void Clear() {
    if (shown) WriteText(stderr, "\r\033[K");
    shown = false;
  }
};

// Asks the question of the window before a new run replaces the session file.
// Without a terminal to answer on, the answer is no.
bool ConfirmReplacingSession() {
  const std::string question =
      "Es existiert eine unterbrochene Profiltest-Sitzung. Mit einem neuen Test wird der "
      "Fortsetzungszeiger ersetzt; die bereits erzeugten CSV-Daten bleiben erhalten. Neuen Test "
      "starten?";
  if (::isatty(STDIN_FILENO) != 1) {
    WriteText(stderr, question + "\nKeine Bestätigung möglich (keine Eingabe am Terminal); "
                                 "fortsetzen mit: orvel-cli bench --resume\n");
    return false;
  }
  WriteText(stderr, question + " [j/N] ");
  char answer[16] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] == 'j' || answer[0] == 'J' || answer[0] == 'y' || answer[0] == 'Y';
}

// Stores the images to measure: the whole sample, or with --shard the part's
// share, described in `part`. False (after a message) when the part is empty.
bool TakePartOfSample(const BenchCommandOptions& options, std::vector<std::string>& sample,
                      BenchmarkSession& session, BenchmarkPart& part) {
  if (options.partCount == 0) {
    session.images = std::move(sample);
    return true;
  }
  part = BenchmarkPart{options.partIndex, options.partCount,  session.root,
                       session.maxPerFolder, session.maxTotal,  session.depth,
                       sample.size(),        SampleFingerprint(sample),
                       EngineListText(CurrentToolAvailability())};
  session.images = SelectPartImages(sample, options.partIndex, options.partCount);
  if (!session.images.empty()) return true;
  WriteText(stderr, "Die Stichprobe hat nur " + std::to_string(sample.size()) +
                        " Bilder; Teil " + FormatInteger(options.partIndex) + "/" +
                        FormatInteger(options.partCount) + " bliebe leer.\n");
  return false;
}

// Fills the session for a new run and creates its folder; exit status or -1.
int PrepareNewRun(const BenchCommandOptions& options, BenchmarkSession& session) {
  if (options.root.empty() || !IsDirectory(options.root)) {
    WriteText(stderr, "Bitte zuerst ein gültiges Verzeichnis auswählen.\n");
    return kExitUsage;
  }
  if (SessionFileExists() && !ConfirmReplacingSession()) return kExitFailure;
  session.root = options.root;
  session.maxPerFolder = options.perFolder;
  session.maxTotal = options.total;
  session.depth = options.depth;
  WriteText(stderr, "Durchsuche Verzeichnisstruktur und bilde ausgewogene Stichprobe\u2026\n");
  ImageSample sample = SelectBalancedSample(session.root, session.maxPerFolder, session.maxTotal);
  session.foldersFound = sample.foldersFound;
  session.imagesFound = sample.imagesFound;
  if (sample.images.empty()) {
    WriteText(stderr, "Es wurden keine unterstützten Bilder gefunden.\n");
    return kExitFailure;
  }
  BenchmarkPart part;
  if (!TakePartOfSample(options, sample.images, session, part)) return kExitFailure;
  session.nextIndex.store(0);
  session.completed.store(0);
  session.cancelRequested.store(false);
  session.paused.store(false);
  const size_t chosen = session.images.size();
  if (!CreateBenchmarkRun(session) ||
      (options.partCount > 0 &&
       !WriteWholeFile(JoinPath(session.sessionDir, kPartFileName), ComposePartFile(part), false))) {
    WriteText(stderr, "Die Benchmark-Sitzung konnte nicht angelegt werden.\n");
    return kExitFailure;
  }
  if (session.images.size() < chosen) {
    WriteText(stderr, std::to_string(chosen - session.images.size()) +
                          " Bild(er) mit Zeilenumbruch im Dateinamen werden nicht gemessen "
                          "(siehe skipped_images.txt).\n");
  }
  return -1;
}

// Runs the worker to its end, turning a signal into a cancel. The signal
// number received, or 0.
int RunWorkerToEnd(BenchmarkSession& session, BenchmarkWorker& worker, bool& complete) {
  std::atomic<bool> finished{false};
  std::atomic<bool> finishedComplete{false};
  InterruptBlock interrupts;
  NotificationsGuard dropHooks(worker);
  const auto onFinished = [&](bool done) {
    finishedComplete.store(done);
    finished.store(true);
  };
  SetBenchmarkNotifications(worker, BenchmarkNotifications{nullptr, onFinished});
  if (!StartBenchmarkWorker(session, worker)) return -1;
  ProgressDisplay progress;
  int received = 0;
  while (!finished.load()) {
    const int signal = interrupts.Wait(kPollNanoseconds);
    if (signal != 0 && received == 0) {
      received = signal;
      CancelBenchmarkWorker(session, worker);
      progress.Clear();
      WriteText(stderr, "Abbruch angefordert \u2013 aktuelle Encoderoperation wird beendet, "
                        "Fortschritt bleibt gespeichert.\n");
    }
    progress.Refresh(session);
  }
  JoinBenchmarkWorker(worker);
  progress.Clear();
  complete = finishedComplete.load();
  // A signal that came after the last poll would otherwise be delivered when
  // the block is lifted and end the program with its default action.
  while (const int late = interrupts.Wait(0)) {
    if (received == 0 && !complete) received = late;
  }
  return received;
}

// bench --merge: the merged run folder on standard output.
int RunBenchMerge(const BenchCommandOptions& options) {
  std::string folder;
  std::string error;
  if (!MergeBenchmarkParts(options.mergeFolders, folder, error)) {
    WriteText(stderr, error + "\n");
    return kExitFailure;
  }
  WriteText(stderr, "Teile zusammengeführt.\n");
  WriteText(stdout, folder + "\n");
  return kExitOk;
}

}  // namespace

int RunBenchWithPreparedEngines(const BenchCommandOptions& options) {
  if (options.merge) return RunBenchMerge(options);
  BenchmarkSession& session = CurrentBenchmarkSession();
  BenchmarkWorker& worker = CurrentBenchmarkWorker();
  if (session.running.load()) return kExitFailure;
  JoinBenchmarkWorker(worker);
  if (options.resume) {
    if (!LoadSession(session)) {
      WriteText(stderr, "Keine fortsetzbare Profiltest-Sitzung gefunden.\n");
      return kExitFailure;
    }
  } else {
    const int status = PrepareNewRun(options, session);
    if (status >= 0) return status;
  }
  bool complete = false;
  const int received = RunWorkerToEnd(session, worker, complete);
  if (received < 0) {
    WriteText(stderr, "Der Profiltest konnte nicht gestartet werden.\n");
    return kExitFailure;
  }
  if (complete) {
    WriteText(stderr, "Profiltest abgeschlossen.\n");
  } else {
    WriteText(stderr, "Unterbrochen \u2013 die Sitzung kann mit \u201Eorvel-cli bench --resume\u201C "
                      "fortgesetzt werden.\n");
  }
  WriteText(stdout, session.sessionDir + "\n");
  if (received != 0) return 128 + received;
  return complete ? kExitOk : kExitFailure;
}
