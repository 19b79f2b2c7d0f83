// The JSON lines of orvel-cli optimize; see json_report.h.
#include "cli/json_report.h"

#include <nlohmann/json.hpp>

namespace {

// Keys in the order written, so a line reads like the result line.
using Json = nlohmann::ordered_json;

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// The eight figures of the judged winner; null when none was analysed.
Json QualityJson(const ImageResult& result) {
  if (result.windowScores.empty()) return nullptr;
  return Json{{"global", result.global},   {"worst5", result.worst5},   {"worst", result.worst},
              {"color", result.color},     {"edge", result.edge},       {"ringing", result.ringing},
              {"banding", result.banding}, {"composite", result.score}};
}

const char* ResultWord(const ImageResult& result, bool reached) {
  if (!reached) return "failed";
  return result.optimized ? "optimized" : "kept";
}

}  // namespace

std::string FormatImageJson(const ImageResult& result, bool reached, double ms) {
  const Json image = {
      {"source", result.sourcePath},
      {"output", result.optimized ? TextOrNull(result.outputPath) : Json(nullptr)},
      {"result", ResultWord(result, reached)},
      {"reason", result.message},
      {"bytes_before", result.originalBytes},
      {"bytes_after", result.resultBytes},
      {"encoder", TextOrNull(result.winnerLabel)},
      {"quality", QualityJson(result)},
      {"ms", ms},
  };
  return Dump(image);
}

std::string FormatSummaryJson(const BatchSummary& summary) {
  const Json totals = {{"images", summary.images},          {"optimized", summary.optimized},
                       {"kept", summary.kept},              {"failed", summary.failed},
                       {"bytes_before", summary.bytesBefore}, {"bytes_after", summary.bytesAfter}};
  return Dump(Json{{"summary", totals}});
}
