// Turning one candidate into one encoded JPEG file; see encoder_invocation.h.
// Neighbours: platform/process (RunTool), imaging/wic_encoder (the in-process
// encoder), engines/engine_store (tool paths and flags), parallel_encoding.cpp
// (calls EncodeCandidate from worker threads: everything here stays in locals).
#include "core/encoder_invocation.h"

#include "engines/engine_store.h"
#include "imaging/wic_encoder.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/work_folder.h"

namespace {

// libjpeg's EXIT_WARNING: the tool recovered from a warning and finished.
constexpr int kLibjpegWarningExitStatus = 2;

void AddWord(ToolInvocation& invocation, std::string text) {
  invocation.arguments.push_back(ToolArgument{std::move(text), false});
}

void AddPath(ToolInvocation& invocation, std::string path) {
  invocation.arguments.push_back(ToolArgument{std::move(path), true});
}

void BuildMozJpegArguments(const EncoderCandidate& candidate, const std::string& ppmPath,
                           ToolInvocation& invocation) {
  AddWord(invocation, "-quality");
  AddWord(invocation, FormatInteger(candidate.quality));
  AddWord(invocation, "-optimize");
  if (candidate.progressive) AddWord(invocation, "-progressive");
  if (!candidate.trellis) AddWord(invocation, "-notrellis");
  AddWord(invocation, "-sample");
  AddWord(invocation, candidate.chroma444 ? "1x1,1x1,1x1" : "2x2,1x1,1x1");
  AddPath(invocation, ppmPath);
}

void BuildJpegliArguments(const EncoderCandidate& candidate, const std::string& ppmPath,
                          const std::string& toolOutputPath, ToolInvocation& invocation) {
  if (candidate.useDistance) {
    AddWord(invocation, "-d");
    AddWord(invocation, FormatFixed(candidate.distance, 2));
  } else {
    AddWord(invocation, "-q");
    AddWord(invocation, FormatInteger(candidate.quality));
  }
  AddWord(invocation, "--chroma_subsampling");
  AddWord(invocation, candidate.chroma444 ? "444" : "420");
  AddWord(invocation, "-p");
  AddWord(invocation, candidate.progressive ? "2" : "0");
  AddWord(invocation, "--quiet");
  AddPath(invocation, ppmPath);
  AddPath(invocation, toolOutputPath);
}

void BuildJpegtranArguments(const EncoderCandidate& candidate, const std::string& jpegCopyPath,
                            ToolInvocation& invocation) {
  AddWord(invocation, "-copy");
  AddWord(invocation, "all");
  AddWord(invocation, "-optimize");
  if (candidate.progressive) AddWord(invocation, "-progressive");
  AddPath(invocation, jpegCopyPath);
}

}  // namespace

bool BuildToolInvocation(const EncoderCandidate& candidate, const std::string& jpegCopyPath,
                         const std::string& ppmPath, const std::string& outputPath,
                         const std::string& toolOutputPath, ToolInvocation& invocation) {
  invocation = ToolInvocation{};
  const EngineStore& store = Engines();
  switch (candidate.engine) {
    case kEngineMozjpeg:
      if (!store.mozjpegAvailable.load()) return false;
      invocation.toolPath = store.mozjpegPath;
      invocation.stdoutPath = outputPath;
      BuildMozJpegArguments(candidate, ppmPath, invocation);
      return true;
    case kEngineJpegli:
      if (!store.jpegliAvailable.load()) return false;
      invocation.toolPath = store.jpegliPath;
      BuildJpegliArguments(candidate, ppmPath, toolOutputPath, invocation);
      return true;
    case kEngineJpegtran:
      if (!store.jpegtranAvailable.load() || jpegCopyPath.empty()) return false;
      invocation.toolPath = store.jpegtranPath;
      invocation.stdoutPath = outputPath;
      invocation.warningExitStatus = kLibjpegWarningExitStatus;
      BuildJpegtranArguments(candidate, jpegCopyPath, invocation);
      return true;
    default:
      return false;
  }
}

std::string RenderArgumentList(const std::vector<ToolArgument>& arguments) {
  std::string text;
  for (const ToolArgument& argument : arguments) {
    if (!text.empty()) text += ' ';
    if (argument.isPath) {
      text += '"';
      text += argument.text;
      text += '"';
    } else {
      text += argument.text;
    }
  }
  return text;
}

std::string RenderCommandLine(const ToolInvocation& invocation) {
  std::string text = "\"" + ShortPath(invocation.toolPath) + "\"";
  if (!invocation.arguments.empty()) text += " " + RenderArgumentList(invocation.arguments);
  return text;
}

std::vector<std::string> ToolArgv(const ToolInvocation& invocation) {
  std::vector<std::string> argv;
  argv.reserve(invocation.arguments.size());
  for (const ToolArgument& argument : invocation.arguments) argv.push_back(argument.text);
  return argv;
}

bool EncodeCandidate(const EncoderCandidate& candidate, const PixelImage& image,
                     const std::string& jpegCopyPath, const std::string& ppmPath,
                     const std::string& outputPath, const std::string& toolOutputPath,
                     const std::string& workingFolder) {
  DeleteFileAt(outputPath);
  if (candidate.engine == kEngineWic) {
    return EncodeJpegWic(image, outputPath, static_cast<float>(candidate.quality) / 100.0f);
  }
  ToolInvocation invocation;
  if (!BuildToolInvocation(candidate, jpegCopyPath, ppmPath, outputPath, toolOutputPath,
                           invocation)) {
    return false;
  }
  const std::uint64_t pixels = static_cast<std::uint64_t>(image.width) * image.height;
  if (!RunTool(invocation.toolPath, ToolArgv(invocation), invocation.stdoutPath, workingFolder,
               ToolTimeLimitMs(pixels), invocation.warningExitStatus)) {
    return false;
  }
  // Exit status 0 alone is not enough: a tool may succeed without writing.
  std::uint64_t size = 0;
  return TryFileSize(outputPath, size) && size > 0;
}
