// Optimising one source image: decode it, encode every candidate of its fixed
// plan, keep the smallest file, and only then check that single winner against
// the source with the windowed quality analysis. A passing winner is written
// to the output folder as "<base name>_<profile key>.jpg"; otherwise the
// source is kept and any output of that name left by an earlier run is
// deleted. Size decides first; quality is checked afterwards. Only candidates
// whose encoder ran to completion take part: one that could not run says
// nothing about the size, and when none ran the image fails and an earlier
// output stays untouched.
//
// Protected sources: the pipeline never writes, replaces or deletes a file
// that is one of the sources of the current run (or the image itself). This
// is checked first, before any work, against the caller's list of sources; an
// image whose output path names such a file ends at once with a verdict that
// keeps the original, and the file is left untouched.
//
// Order of the work: the work folder, the source copy and the plan come
// first, so jpegtran (which reads only the copy) runs while the source is
// decoded and its PPM written; then the other candidates start. A lossy
// candidate that finishes while others still run is decoded and analysed
// ahead when a hardware thread is free, so the winner's check is usually
// done when the size comparison names it. The gate still judges only the
// winner, with the figures it would compute itself; the order changes no
// verdict, file or text.
//
// The work folder (PPM, source copy, candidate files) is removed on every
// path, also when an exception passes, after every encoder thread has been
// joined. An exception (out of memory while decoding a huge image, say) ends
// the image as a failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/output_target.h"
#include "core/profiles.h"
#include "imaging/quality.h"

// Verdict texts; the dash in each is an en dash.
extern const char* const kVerdictOptimized;
extern const char* const kVerdictNoSmallerCandidate;
extern const char* const kVerdictWinnerUndecodable;
extern const char* const kVerdictGateFailed;
extern const char* const kVerdictProtectedSource;
extern const char* const kVerdictOutputWrittenThisRun;
// The source's content is another image format (PNG, TIFF, BMP, GIF), whatever
// its name: it is kept rather than converted to a lossy JPEG.
extern const char* const kVerdictNotJpeg;
// --replace: the source cannot be replaced with a way back (no trash on its
// file system, no permission there), is a link, or changed meanwhile.
extern const char* const kVerdictNoTrash;
extern const char* const kVerdictSourceIsLink;
extern const char* const kVerdictSourceChanged;
// What a front-end records when OptimizeImage returns false.
extern const char* const kVerdictProcessingError;

// Why OptimizeImage returned false (ImageResult::failureReason), besides the
// decode failures of the source (DecodeFailureText).
extern const char* const kFailureWorkFolder;        // the work folder cannot be created
extern const char* const kFailurePpmNotWritten;     // full.ppm cannot be written
extern const char* const kFailureOutputNotWritten;  // the output file cannot be written
extern const char* const kFailureStaleOutput;       // an earlier output cannot be deleted
extern const char* const kFailureThreadRefused;     // the system refused a worker thread
extern const char* const kFailureOutOfMemory;       // memory ran out
extern const char* const kFailureUnexpected;        // any other exception
extern const char* const kFailureCancelled;         // the run was interrupted (Ctrl-C, cancel)
extern const char* const kFailureNoEncoderRan;      // no candidate's encoder ran to completion

struct ImageResult {
  std::string sourcePath;               // full path of the source image
  std::string profileLabel;             // label of the profile used
  std::string outputPath;               // written output file; empty unless optimised
  std::string winnerLabel;              // smallest candidate; empty when none or undecodable
  double score = 0;                     // winner's composite figure, 0..1
  double global = 0;                    // winner's global figure, 0..1
  double worst5 = 0;                    // winner's worst-5 % figure, 0..1
  double worst = 0;                     // winner's worst-window figure, 0..1
  double color = 0;                     // winner's colour figure, 0..1
  double edge = 0;                      // winner's edge figure, 0..1
  double ringing = 0;                   // winner's ringing figure, 0..1
  double banding = 0;                   // winner's banding figure, 0..1
  // The judged winner's window scores (written or failing the gate), in the
  // order of AnalysisWindows(analysedWidth, analysedHeight); empty when no
  // winner was analysed. 8 bytes a window: about 51 KB for 24 megapixels.
  std::vector<double> windowScores;
  std::uint32_t analysedWidth = 0;      // pixels of the analysed images; 0 without scores
  std::uint32_t analysedHeight = 0;     // pixels
  std::int32_t candidatesPlanned = 0;   // candidates in the plan
  std::int32_t candidatesEncoded = 0;   // candidates whose encoder ran to completion
  std::uint64_t originalBytes = 0;      // size of the source file, bytes
  std::uint64_t resultBytes = 0;        // output size when optimised, else originalBytes
  bool optimized = false;               // an output file was written
  std::string message;                  // the verdict text
  bool failed = false;                  // OptimizeImage returned false
  std::string failureReason;            // why it failed (German); empty otherwise
};

// Where the time of one image went, in milliseconds of wall time (for the
// benchmark). Steps that did not run stay 0.
struct PipelineTimings {
  double decodeMs = 0;         // decoding the source
  double ppmWriteMs = 0;       // writing full.ppm
  double copyMs = 0;           // copying the source to original.jpg
  double metadataReadMs = 0;   // reading the source's metadata segments
  double planMs = 0;           // building the plan
  double encodingMs = 0;       // first candidate start to last candidate end (overlaps the decode)
  std::vector<std::string> candidateLabels; // per plan entry: its label
  std::vector<double> candidateStartMs;     // per plan entry: its start, after the image began
  std::vector<double> candidateEncodeMs;    // per plan entry: the encode itself
  std::vector<double> candidateMetadataMs;  // per plan entry: the metadata rewrite
  double winnerDecodeMs = 0;   // decoding the winner (ahead or not)
  double analysisMs = 0;       // the winner's quality analysis (ahead or not)
  bool winnerCheckedAhead = false;  // the winner was checked while others still encoded
  int checksAhead = 0;         // candidates checked ahead, losers included
  double outputWriteMs = 0;    // writing (or deleting) the output file
  double totalMs = 0;          // the whole call
};

// How OptimizeImage writes a passing winner.
struct OutputOptions {
  // Over the source itself, the original going to the trash (the output
  // folder is not used). A verdict that keeps the source deletes nothing.
  bool replaceSource = false;
  // The source's access and modification times and permission bits on the
  // output (never wider than the source's; the owner stays the user's).
  bool preserveAttributes = false;
};

// The output file path: `outputFolder` joined with the source's base name,
// "_", the profile key and ".jpg".
std::string OutputPathFor(const std::string& sourcePath, const std::string& outputFolder,
                          const QualityProfile& profile);

// True when `outputPath` names `sourcePath` or one of `protectedSources`: the
// same file (device and inode, when both exist) or the same normalised
// absolute path text.
bool IsProtectedOutputPath(const std::string& outputPath, const std::string& sourcePath,
                           const std::vector<std::string>& protectedSources);

// The quality gate: a measured report whose global, worst5, worst and
// composite figures each reach the profile's limit (equal passes; a figure
// that is not a number fails).
bool PassesQualityGate(const QualityReport& report, bool measured, const QualityProfile& profile);

// Optimises one image into `result`. `protectedSources` are the source paths
// of the current run; `writtenOutputs` are the outputs written earlier in this
// run, which a later image with the same output name must not replace or
// delete (it keeps its original with kVerdictOutputWrittenThisRun). They are
// compared by path text, with the folder part resolved, since such a file may
// have been replaced since (a new inode under the same name), and, where the
// output name exists, also by device and inode, since a file system that
// ignores case gives two names one file (a hard link counts as the same
// file too: refusing is the safe side). True when a
// verdict was reached (optimised or kept); false on an error (source
// undecodable, no candidate's encoder ran to completion, work folder or PPM not writable, output not writable, an
// earlier output that a keeping verdict must delete cannot be deleted, a
// worker thread refused, memory exhausted), with `failureReason` saying which;
// the caller then records "Fehler beim Verarbeiten". `output` says how a
// passing winner is written; under replaceSource the output path is the
// source, the protection of sources does not apply to it, and a source that
// cannot go to the trash is kept (kVerdictNoTrash). Safe to call from several
// threads at once.
bool OptimizeImage(const std::string& sourcePath, const std::string& outputFolder,
                   const QualityProfile& profile, ImageResult& result,
                   const std::vector<std::string>& protectedSources,
                   PipelineTimings* timings = nullptr,
                   const std::vector<std::string>& writtenOutputs = {},
                   const OutputOptions& output = {});

// OptimizeImage with the output where `target` says (a mirrored subfolder,
// made when the output is written; --update's skip). OptimizeImage is this
// with the flat target in `outputFolder`.
bool OptimizeImageTo(const std::string& sourcePath, const OutputTarget& target,
                     const QualityProfile& profile, ImageResult& result,
                     const std::vector<std::string>& protectedSources,
                     PipelineTimings* timings = nullptr,
                     const std::vector<std::string>& writtenOutputs = {},
                     const OutputOptions& output = {});

// The result a front-end records when OptimizeImage returned false: the
// partial result's reason, the source's size before and after, and the
// message "Fehler beim Verarbeiten", followed by " – <reason>" when known.
ImageResult ProcessingErrorResult(const ImageResult& partial, const std::string& sourcePath,
                                  const std::string& profileLabel);
