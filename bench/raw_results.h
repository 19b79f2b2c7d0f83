// Raw results and image lists of a profile-development run.
//
// Every measurement ends up as one row of the semicolon-separated
// "quality_profile_raw.csv": one row per image and candidate with the image's
// size, the candidate's settings, the encoded size, the quality figures and
// the encode time. This module creates the run folder with its files and
// defines the row format and the two plain lists, "selected_images.txt" (the
// sample; UTF-8 with byte-order mark, line feeds) and "skipped_images.txt"
// (images that could not be measured; no byte-order mark, CR LF).
//
// Neighbours: session (paths, SaveSession), worker (formats and appends the
// rows, appends skipped images), summary (reads the rows back).
#pragma once

#include <cstdint>
#include <string>

#include "bench/session.h"
#include "core/candidate_plan.h"
#include "imaging/quality.h"

// The header line of quality_profile_raw.csv, CR LF included.
extern const char* const kRawHeader;

constexpr const char* kRawFileName = "quality_profile_raw.csv";
constexpr const char* kSelectedImagesFileName = "selected_images.txt";
constexpr const char* kSkippedImagesFileName = "skipped_images.txt";

// True when the path holds a line feed or a carriage return. Such a path
// cannot stand in a line-based file (the image lists, the raw rows): it is
// never measured and listed as skipped in escaped form.
bool HasLineBreak(const std::string& path);

// The line of skipped_images.txt for the image, CR LF included: the path
// itself, or for a path with a line break the path with each line feed shown
// as \n and each carriage return as \r, a tab and the reason.
std::string SkippedImageLine(const std::string& path);

// "Run_" + stamp in `runsFolder`, created exclusively; when the name is taken
// (two runs in one second) "_2", "_3", ... is appended. False when no folder
// could be made; `folder` is then empty.
bool ReserveRunFolder(const std::string& runsFolder, const std::string& stamp, std::string& folder);

// The local time as "YYYYMMDD-hhmmss".
std::string LocalTimeStamp();

// Creates the run folder under BenchmarkRunsFolder(), fills sessionDir,
// csvPath, imageListPath and sessionFilePath, writes the image list and the
// CSV header, and saves the session. The caller has stored the sample in
// `images` and reset the counters and flags beforehand. Images whose path
// holds a line break are taken out of `images` and listed in
// skipped_images.txt. False when the root holds a line break (the session
// file is line-based), when no image is left, or when the folder, a list or
// the header cannot be written (files already written stay).
bool CreateBenchmarkRun(BenchmarkSession& session);

// The text with every double quote doubled, enclosed in double quotes. A text
// that begins with "=", "+", "-", "@", a tab or a carriage return gets an
// apostrophe in front inside the quotes, so a spreadsheet never takes it for a
// formula. Only text columns go through here; numbers stay bare numbers.
std::string QuoteCsvText(const std::string& text);

// The file-name part: text after the last "/" ("\" and ":" belong to a Linux
// file name).
std::string ImageFileName(const std::string& path);

// The image path relative to `root` when it starts with `root` (ASCII letters
// compared without case) and is longer, with leading "/" removed;
// otherwise the file-name part.
std::string RelativeImagePath(const std::string& root, const std::string& imagePath);

// "WIC", "MozJPEG", "Jpegli", "jpegtran"; "Unbekannt" for any other code.
std::string RawEngineName(std::int32_t engine);

// One complete row, CR LF included. The source size is read from the file
// system now (0 when it cannot be read).
std::string FormatRawRow(const std::string& root, const std::string& imagePath, std::uint32_t width,
                         std::uint32_t height, const EncoderCandidate& candidate,
                         std::uint64_t encodedBytes, const QualityReport& report, double encodeMs);

// The same with the source size given (tests and the benchmark generator).
std::string FormatRawRowWithSize(const std::string& root, const std::string& imagePath,
                                 std::uint32_t width, std::uint32_t height,
                                 std::uint64_t originalBytes, const EncoderCandidate& candidate,
                                 std::uint64_t encodedBytes, const QualityReport& report,
                                 double encodeMs);
