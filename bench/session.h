// The state of one profile-development run and its session file.
//
// A run over thousands of images takes hours; it must survive a pause, a
// closed window or a restarted program and then continue exactly at the image
// where it stopped. The run's state lives in a BenchmarkSession and persists
// in "benchmark_current.ini" (twelve key=value lines, UTF-8, line feeds) in
// the user's local data folder. The file exists exactly while a run is
// unfinished: written when the run is created, rewritten after every finished
// image, deleted when the last image is done. Its presence makes a session
// resumable.
//
// Also here: the small whole-file helpers every file of profile development
// uses.
//
// Neighbours: raw_results (creates a run), worker (saves after every image),
// summary (reads the run's figures), the window and the command line (load,
// resume).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct BenchmarkSession {
  std::string sessionFilePath;      // full path of benchmark_current.ini; empty until needed
  std::string root;                 // root folder of the image collection
  std::string sessionDir;           // run folder ("Run_" + time stamp)
  std::string csvPath;              // sessionDir + "quality_profile_raw.csv"
  std::string imageListPath;        // sessionDir + "selected_images.txt"
  std::vector<std::string> images;  // the sample, in processing order
  std::int32_t maxPerFolder = 5;    // per-folder cap used for the sample
  std::int32_t maxTotal = 5000;     // total cap used for the sample
  std::int32_t depth = 1;           // "Testtiefe" index, 0..2 (other values act like the nearest)
  std::uint64_t foldersFound = 0;   // folders visited by the scan
  std::uint64_t imagesFound = 0;    // accepted image files found by the scan

  // Run-time only, never written to the file. The worker stores them while
  // the window (or the command line) reads them for its progress display.
  std::atomic<std::uint64_t> nextIndex{0};        // position of the next image to process
  std::atomic<std::uint64_t> completed{0};        // images finished (skipped ones included)
  std::atomic<bool> running{false};               // the worker thread is active
  std::atomic<bool> paused{false};                // pause requested
  std::atomic<bool> cancelRequested{false};       // cancel requested
  std::atomic<std::int32_t> currentCandidate{0};  // 1-based candidate in progress; 0 between images
  std::atomic<std::int32_t> candidateCount{0};    // size of the current image's grid; 0 between images
  std::atomic<std::uint64_t> startTick{0};        // TickCountMs() when the worker started, ms
};

// The one process-wide session shared by the window and the worker.
BenchmarkSession& CurrentBenchmarkSession();

// --- Files and folders ------------------------------------------------------

// Largest file ReadWholeFile accepts: 128 MiB.
constexpr std::uint64_t kWholeFileLimit = 134217728;

// The whole file without a leading UTF-8 byte-order mark; empty when it cannot
// be read or is larger than kWholeFileLimit.
std::string ReadWholeFile(const std::string& path);

// Replaces the file with the bytes (after EF BB BF when `withByteOrderMark`),
// through a temporary name, so the final name never holds a partial file.
bool WriteWholeFile(const std::string& path, const std::string& bytes, bool withByteOrderMark);

// Appends the bytes at the end of the file, creating it when missing. All or
// nothing: when the write fails the file is cut back to its former length.
// True also when there is nothing to append.
bool AppendToFile(const std::string& path, const std::string& bytes);

// "LOCALAPPDATA" when set and not empty, else $XDG_DATA_HOME, else
// $HOME/.local/share, else the program's folder.
std::string LocalDataFolder();

// <local data>/OrvelJpegOptimizer/benchmark_current.ini; the folder is created.
std::string SessionFilePath();

// <local data>/OrvelJpegOptimizer/BenchmarkRuns; created.
std::string BenchmarkRunsFolder();

// --- The session file ---------------------------------------------------------

// The twelve lines of benchmark_current.ini for the session.
std::string ComposeSessionFile(const BenchmarkSession& session);

// Writes the session file (sets `sessionFilePath` first when empty). The file
// is replaced through a temporary name, so a failure keeps the last good
// state. True when written; callers may ignore the result.
bool SaveSession(BenchmarkSession& session);

// key -> value of every line of the text holding "=" (split at the first
// "="; one carriage return before the line feed dropped); later lines replace
// earlier ones. The reader of the session file, the manifest and the part file.
std::map<std::string, std::string> ReadKeyValues(std::string_view text);

// The number under `key` by the session file's rules (leading white space
// skipped, parsing stops at the first non-digit). False when the key is
// missing or holds no number in range; `field` is then unchanged.
bool ReadInt32Value(const std::map<std::string, std::string>& values, const char* key,
                    std::int32_t& field);
bool ReadUint64Value(const std::map<std::string, std::string>& values, const char* key,
                     std::uint64_t& field);

// The key=value part of loading: reads the four paths and the seven numbers
// of a session file's text into the session. False when "Root" or
// "ImageListPath" is missing, "SessionDir" or "CsvPath" is missing or empty,
// or a number does not parse; fields read before the failure keep their
// values. The image list is not read here.
bool ParseSessionText(std::string_view text, BenchmarkSession& session);

// Reads benchmark_current.ini and its image list into the session. True when
// a resumable session was read: the keys ParseSessionText needs, a run folder
// that still exists, and an image list holding at least one path. A NextIndex
// beyond the list becomes 0. Fields read before a failure keep their values.
bool LoadSession(BenchmarkSession& session);

// True when the session file exists and is not a folder.
bool SessionFileExists();
