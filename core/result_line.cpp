// Result lines; see result_line.h. Neighbours: live_status.cpp (FormatBytes),
// the results list of the main window and orvel-cli, which print these lines.
#include "core/result_line.h"

#include "core/display_text.h"
#include "core/live_status.h"
#include "platform/files.h"
#include "platform/text.h"

double SavingPercent(std::uint64_t originalBytes, std::uint64_t resultBytes) {
  if (originalBytes == 0) return 0.0;
  return (1.0 - static_cast<double>(resultBytes) / static_cast<double>(originalBytes)) * 100.0;
}

std::string FormatResultLine(const ImageResult& result) {
  const std::string separator = "   |   ";
  std::string line = FileNamePart(result.sourcePath) + separator + result.profileLabel + separator;
  if (result.optimized) {
    line += result.winnerLabel + separator + FormatBytes(result.originalBytes) + " \u2192 " +
            FormatBytes(result.resultBytes) + separator +
            FormatFixed(SavingPercent(result.originalBytes, result.resultBytes), 1) +
            " % kleiner" + separator + "Robust " + FormatFixed(result.score * 100.0, 1) +
            separator + "Worst-5% " + FormatFixed(result.worst5 * 100.0, 1);
  } else {
    line += "Original behalten" + separator + result.message;
  }
  line += separator + "Kandidaten " + FormatInteger(result.candidatesEncoded) + "/" +
          FormatInteger(result.candidatesPlanned);
  // The file name is outside text; nothing else in the line is a control.
  return EscapeForDisplay(line);
}
