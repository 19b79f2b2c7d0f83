// The commands of orvel-cli, run from a parsed CliOptions record (the bench
// command itself is in bench_command.h).
//
// optimize follows the batch rules of the desktop program without windows:
// the list built by AddToImageList (folders searched for JPEG files, sorted,
// free of duplicates), the output folder must exist and is never created, one
// result per image in list order, "Fehler beim Verarbeiten" when the pipeline
// fails. Several images may be optimised at once (--jobs, core/parallel_batch.h)
// with the same results as one after the other. Result lines and the summary
// go to standard output; a live progress line goes to standard error only
// when it is a terminal.
//
// Interruption: SIGINT and SIGTERM are blocked for the whole run and
// collected between images and while the encoders run. The first one kills
// the running encoder tools (which start with default signal handling, so a
// hung tool cannot outlive the program); the images in flight end as
// "Fehler beim Verarbeiten – abgebrochen" without touching an earlier output,
// no further image starts, the summary so far is printed, the engine folder is
// removed and the exit status is 130 (SIGINT) or 143 (SIGTERM).
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "imaging/quality.h"

// The whole program: start-up (default SIGCHLD action), then the command the
// arguments name; the commands that start tools (optimize, status, bench)
// first remove the folders that killed runs of ours left behind. Returns the
// exit status.
int RunCliProgram(const std::vector<std::string>& arguments);

// Runs the command and returns the exit status.
int RunCliCommand(const CliOptions& options);

int RunOptimizeCommand(const CliOptions& options);
int RunStatusCommand();

// "orvel-cli (Orvel JPEG Optimizer) 1.3.3" and one line per embedded tool
// with the version the build recorded (newline-terminated lines).
std::string FormatVersionText();
int RunAnalyzeCommand(const CliOptions& options);

// "name=value" lines of the eight figures and "windows=N", values with 17
// significant digits, independent of the locale.
std::string FormatAnalysisReport(const QualityReport& report);

// Counts of a finished (or interrupted) run for the summary line.
struct BatchSummary {
  int images = 0;                  // images with a result
  int optimized = 0;               // output written
  int kept = 0;                    // verdict that keeps the original
  int failed = 0;                  // "Fehler beim Verarbeiten"
  unsigned long long bytesBefore = 0;  // sum of originalBytes
  unsigned long long bytesAfter = 0;   // sum of resultBytes
};

// "Zusammenfassung: 3 Bilder   |   1 optimiert   |   ..." (one line, no newline).
std::string FormatSummaryLine(const BatchSummary& summary);
