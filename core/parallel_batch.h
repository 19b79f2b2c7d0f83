// Running the images of a batch several at a time, for both front-ends.
//
// Up to `jobs` images are optimised at once, each on its own thread, and yet
// the outcome is that of one image after the other: the result of every image
// is reported in list order, as soon as it and all earlier ones are done;
// images whose output paths are the same, letter case aside (a file
// system may ignore it), never overlap (an image starts only
// after every earlier image with its output path has finished) and each image
// is handed the outputs written so far, so an output written by an earlier
// image is never replaced or deleted by a later one, whatever the timing.
//
// The calling thread only schedules and reports; the pipeline runs on the
// worker threads. When `poll` asks to stop, no further image starts, the
// images in flight finish and are reported, and the run ends. A front-end
// that stops also kills the tools in flight (CancelToolRuns), so those
// images end at once as cancelled and write or delete nothing.
//
// OptimizeBatchImage is the `process` call both front-ends use: one image
// through the pipeline with the live status around it.
//
// Neighbours: the front-ends supply the three calls (core/pipeline's
// OptimizeImage, their result display, their stop request): orvel-cli's
// cli_commands.cpp and the main window's main_batch.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/pipeline.h"

// What one image came to.
struct BatchOutcome {
  ImageResult result;    // as OptimizeImage left it
  bool reached = false;  // OptimizeImage returned true (false also after an exception)
};

struct ParallelBatchCalls {
  // Optimises image `index` (worker thread); `writtenOutputs` are the outputs
  // written by the images finished before it started.
  std::function<BatchOutcome(std::size_t index, const std::vector<std::string>& writtenOutputs)>
      process;
  // Hands on one outcome (calling thread): in list order, each image once.
  std::function<void(std::size_t index, BatchOutcome& outcome)> report;
  // Called on the calling thread before every start and at least every
  // `pollEveryMs` while it waits; true: start no further image.
  std::function<bool()> poll;
  unsigned pollEveryMs = 100;  // ms; a window pumps its events from `poll`
  // Admission by memory (optional): the bytes image `index` may need (called
  // once on the calling thread, when the image is next in line), and what the
  // images in flight may need together. An image that does not fit waits,
  // and the images after it with it; one that needs more than the whole
  // budget runs alone. Without `memoryNeed` or with a budget of 0 only
  // `jobs` limits.
  std::function<std::uint64_t(std::size_t index)> memoryNeed;
  std::uint64_t memoryBudget = 0;  // bytes
};

// Runs the batch of `outputPaths.size()` images (entry i: where image i's
// output would go) with at most `jobs` (at least 1) images in flight. Returns
// the number of images reported; fewer than the list only when `poll` stopped
// the run, and then the images that were never started are left out.
std::size_t RunParallelBatch(const std::vector<std::string>& outputPaths, unsigned jobs,
                             const ParallelBatchCalls& calls);

// The verdict of an image a stopped batch never started; the dash is an en dash.
extern const char* const kVerdictNotStarted;

// Image `index` of the batch `sources` (all of them protected) on the
// calling thread, written to `target` (core/output_target.h) as `output`
// says: the live status begun and ended around OptimizeImageTo.
BatchOutcome OptimizeBatchImage(const std::vector<std::string>& sources, std::size_t index,
                                const OutputTarget& target, const QualityProfile& profile,
                                const std::vector<std::string>& writtenOutputs,
                                const OutputOptions& output = {});

// What optimising `sourcePath` may need at most, in bytes, from the picture
// size its JPEG frame header declares (read from the file's first 256 KiB,
// nothing decoded), or from its file size when no header says. A small file
// may declare a huge picture; its decode then needs the memory all the same.
std::uint64_t DeclaredMemoryNeed(const std::string& sourcePath);

// An output path as a file system that ignores letter case may take it:
// letters folded to lower case in UTF-16 code units (vfat, exFAT and
// casefolded ext4 also fold "Ä" and "ä"); invalid UTF-8 bytes all become
// U+FFFD. Two outputs with the same folded path never run at the same time;
// folding a few names too many costs only overlap.
std::u16string CaseFoldedOutputPath(const std::string& path);

// Half of the memory available now (/proc/meminfo MemAvailable), the share
// the images in flight may need together; 0 when it cannot be read.
std::uint64_t BatchMemoryBudget();

// Fills `calls`' memory admission for the batch `sources` (kept by
// reference: they must outlive the run): DeclaredMemoryNeed against
// BatchMemoryBudget, as both front-ends run it.
void AdmitByDeclaredMemory(ParallelBatchCalls& calls, const std::vector<std::string>& sources);

// The result recorded for an image a stopped batch never started: the
// source untouched, its size before and after, kVerdictNotStarted.
ImageResult NotStartedResult(const std::string& sourcePath, const std::string& profileLabel);

// False for the images a stop left undone: never started, or cancelled in
// flight (failure reason kFailureCancelled).
bool WasDoneInBatch(const ImageResult& result);

// Default of --jobs and of the window's batch: one image per hardware thread,
// at least 1, in every compute mode. Measured on two cores, two images at
// once beat one by 18 to 42 % in all three modes and were within 5 % of the
// best fixed count; more than one per thread gained nothing. An image's own
// work is too bursty (decode, analysis, the tools' start) for the mode's
// encoder threads to keep the machine busy, so dividing by them left it idle.
// The memory admission (AdmitByDeclaredMemory) keeps large photos apart.
unsigned AutomaticJobCount(unsigned hardwareThreads);
