// Status and message texts of the main window; see main_texts.h.
#include "ui/main/main_texts.h"

#include "core/live_status.h"
#include "core/result_line.h"
#include "platform/text.h"

#ifndef ORVEL_VERSION
#error "ORVEL_VERSION must name the program version"
#endif

std::string ImagesSelectedStatus(std::size_t count) {
  return FormatInteger(static_cast<std::int64_t>(count)) + " Bild(er) ausgew\u00e4hlt";
}

std::string SelectionStatus(const std::string& profileLabel, const std::string& modeName) {
  return "Profil: " + profileLabel + "   |   Modus: " + modeName;
}

std::string EngineSummaryText(bool jpegli, bool mozjpeg, bool jpegtran) {
  std::string summary = "WIC";
  if (jpegli) summary += " + Jpegli";
  if (mozjpeg) summary += " + MozJPEG";
  if (jpegtran) summary += " + jpegtran";
  return summary;
}

std::string BatchImageStatus(std::size_t index, std::size_t count, const std::string& name,
                             const std::string& modeName, const std::string& engineSummary) {
  return "Optimiere " + FormatInteger(static_cast<std::int64_t>(index)) + " von " +
         FormatInteger(static_cast<std::int64_t>(count)) + ": " + name + "   |   " + modeName +
         "   |   " + engineSummary;
}

std::string AboutText() {
  return std::string(kProductName) + "\nVersion " + ORVEL_VERSION + "\nProfilkalibrierung: " +
         kProfileCalibration;
}

std::string ToDisplayLineEnds(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result += text[i];
  }
  return result;
}

std::string PreviewFailureText(const std::string& fileName, const std::string& reason) {
  return "Vorschau nicht m\u00f6glich.\n\n" + fileName + " kann nicht angezeigt werden: " + reason +
         ".";
}

std::string BatchFinishedStatus(std::size_t optimizedCount, std::size_t imageCount,
                                std::uint64_t bytesBefore, std::uint64_t bytesAfter,
                                std::size_t failedCount) {
  const double saving = SavingPercent(bytesBefore, bytesAfter);
  const std::string failures =
      failedCount == 0 ? std::string()
                       : "   |   " + FormatInteger(static_cast<std::int64_t>(failedCount)) + " Fehler";
  return std::string(kStatusBatchFinished) + "   |   " +
         FormatInteger(static_cast<std::int64_t>(optimizedCount)) + " von " +
         FormatInteger(static_cast<std::int64_t>(imageCount)) +
         (imageCount == 1 ? " Bild" : " Bildern") + " optimiert   |   " + FormatBytes(bytesBefore) +
         " \u2192 " + FormatBytes(bytesAfter) + "   |   " + FormatFixed(saving, 1) + " % kleiner" + failures;
}
