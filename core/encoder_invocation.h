// Encoding one candidate into one JPEG file: the three command-line tools
// (cjpegli, MozJPEG cjpeg, jpegtran) run as child processes through RunTool,
// and the in-process WIC encoder.
//
// Arguments travel to the tool as an argv vector. `RenderCommandLine` renders
// the same invocation as the quoted command-line text the program documents
// (tool path in double quotes, one space, the argument list with every path in
// double quotes), for display and for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/candidate_plan.h"
#include "imaging/pixel_image.h"
#include "imaging/quality.h"

struct CandidateResult {
  EncoderCandidate candidate;  // copy of the candidate that was encoded
  std::string outputPath;      // long path of the encoded file in the work folder
  std::uint64_t bytes = 0;     // size of the encoded file; 0 when the encode failed
  bool ok = false;             // EncodeCandidate reported success
  bool measured = false;       // the quality check ran and found at least one window
  QualityReport report;        // figures of the quality check; zero until measured
  double score = 0;            // report.composite once measured
  bool passed = false;         // passed the profile's limits
  double startMs = 0;          // start of the encode, milliseconds after the encoding began
  double encodeMs = 0;         // wall time of the encode itself, milliseconds
  double metadataMs = 0;       // wall time of carrying the source's metadata over, milliseconds
};

// One argument of a tool invocation; paths are quoted when rendered.
struct ToolArgument {
  std::string text;
  bool isPath = false;
};

// A tool invocation: which tool, its arguments, and where standard output goes
// (empty: /dev/null).
struct ToolInvocation {
  std::string toolPath;
  std::vector<ToolArgument> arguments;
  std::string stdoutPath;
  // A second exit status that counts as success, -1 for none. jpegtran reads
  // the user's own file and exits 2 after warnings every viewer ignores (stray
  // bytes between segments); its output is complete, and the quality gate and
  // the decode still judge it.
  int warningExitStatus = -1;
};

// The invocation for a tool candidate; false for WIC, an unavailable engine,
// a jpegtran candidate without `jpegCopyPath`, or an unknown engine.
bool BuildToolInvocation(const EncoderCandidate& candidate, const std::string& jpegCopyPath,
                         const std::string& ppmPath, const std::string& outputPath,
                         const std::string& toolOutputPath, ToolInvocation& invocation);

// "\"<tool>\" <arguments>" with every path argument in double quotes.
std::string RenderCommandLine(const ToolInvocation& invocation);

// The argument list alone, as rendered after the tool.
std::string RenderArgumentList(const std::vector<ToolArgument>& arguments);

// The argument texts as the tool receives them (argv[1..]), unquoted.
std::vector<std::string> ToolArgv(const ToolInvocation& invocation);

// Deletes any file at `outputPath`, then encodes. True when the encoded file
// is in place (for the tools: exit status 0 and a non-empty file).
bool EncodeCandidate(const EncoderCandidate& candidate, const PixelImage& image,
                     const std::string& jpegCopyPath, const std::string& ppmPath,
                     const std::string& outputPath, const std::string& toolOutputPath,
                     const std::string& workingFolder);
