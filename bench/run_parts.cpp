// Parts of a split profile-development run and their merge; see run_parts.h.
// Neighbours: summary (groups and the two result files), raw_results (run
// folders), session (whole-file helpers, key=value reader), leading_numbers.
#include "bench/run_parts.h"

#include <cstdio>
#include <map>

#include "bench/raw_results.h"
#include "bench/session.h"
#include "bench/summary.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr std::int32_t kMostParts = 10000;

using KeyValues = std::map<std::string, std::string>;

// Plain decimal digits only, no sign or space: what a part number looks like.
bool ParseDigits(std::string_view text, std::int32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string PartName(const BenchmarkPart& part) {
  return FormatInteger(part.index) + "/" + FormatInteger(part.count);
}

bool ReadText(const KeyValues& values, const char* key, std::string& field) {
  const auto found = values.find(key);
  if (found == values.end()) return false;
  field = found->second;
  return true;
}

// One part folder as the merge sees it.
struct PartRun {
  std::string folder;
  BenchmarkPart part;
  ManifestFigures figures;  // from its manifest; root, caps and depth from the part file
};

bool ReadPartRun(const std::string& folder, PartRun& run, std::string& error) {
  run.folder = folder;
  const std::string partText = ReadWholeFile(JoinPath(folder, kPartFileName));
  if (partText.empty() || !ParsePartFile(partText, run.part)) {
    error = folder + ": kein Teil eines aufgeteilten Profiltests (" + kPartFileName +
            " fehlt oder ist unlesbar).";
    return false;
  }
  const KeyValues manifest = ReadKeyValues(ReadWholeFile(JoinPath(folder, kManifestFileName)));
  if (!ReadUint64Value(manifest, "SelectedImages", run.figures.selected) ||
      !ReadUint64Value(manifest, "FoundImages", run.figures.imagesFound) ||
      !ReadUint64Value(manifest, "FoundFolders", run.figures.foldersFound)) {
    error = folder + ": Teil " + PartName(run.part) + " ist nicht abgeschlossen (" +
            kManifestFileName + " fehlt oder ist unlesbar).";
    return false;
  }
  run.figures.root = run.part.root;
  run.figures.maxPerFolder = run.part.maxPerFolder;
  run.figures.depth = run.part.depth;
  return true;
}

// Why two parts cannot be merged; empty when they fit together.
std::string PartMismatch(const PartRun& a, const PartRun& b) {
  const auto both = [&](const std::string& first, const std::string& second) {
    return " (" + a.folder + ": " + first + ", " + b.folder + ": " + second + ")";
  };
  if (a.part.depth != b.part.depth) {
    return "unterschiedliche Testtiefen" +
           both(FormatInteger(a.part.depth), FormatInteger(b.part.depth));
  }
  if (a.part.engines != b.part.engines) {
    return "unterschiedliche Kandidatenraster" + both(a.part.engines, b.part.engines);
  }
  if (a.part.count != b.part.count) {
    return "unterschiedliche Aufteilungen" + both(PartName(a.part), PartName(b.part));
  }
  if (a.part.root != b.part.root || a.part.maxPerFolder != b.part.maxPerFolder ||
      a.part.maxTotal != b.part.maxTotal || a.part.sampleImages != b.part.sampleImages ||
      a.part.sampleHash != b.part.sampleHash) {
    return "verschiedene Stichproben (" + a.folder + ", " + b.folder + ")";
  }
  return std::string();
}

// Every part number from 1 to N exactly once.
bool CheckPartsComplete(const std::vector<PartRun>& runs, std::string& error) {
  const std::int32_t count = runs.front().part.count;
  std::vector<const PartRun*> byIndex(static_cast<size_t>(count) + 1, nullptr);
  for (const PartRun& run : runs) {
    const PartRun*& slot = byIndex[static_cast<size_t>(run.part.index)];
    if (slot != nullptr) {
      error = "Teil " + PartName(run.part) + " ist doppelt angegeben: " + slot->folder + " und " +
              run.folder + ".";
      return false;
    }
    slot = &run;
  }
  std::string missing;
  for (std::int32_t index = 1; index <= count; ++index) {
    if (byIndex[static_cast<size_t>(index)] != nullptr) continue;
    missing += (missing.empty() ? "" : ", ") + FormatInteger(index) + "/" + FormatInteger(count);
  }
  if (missing.empty()) return true;
  error = "Es fehlen Teile: " + missing + ".";
  return false;
}

bool ReadCompatibleParts(const std::vector<std::string>& folders, std::vector<PartRun>& runs,
                         std::string& error) {
  if (folders.empty()) {
    error = "Keine Laufordner angegeben.";
    return false;
  }
  for (const std::string& folder : folders) {
    PartRun run;
    if (!ReadPartRun(folder, run, error)) return false;
    const std::string mismatch = runs.empty() ? std::string() : PartMismatch(runs.front(), run);
    if (!mismatch.empty()) {
      error = "Die Teile passen nicht zusammen: " + mismatch + ".";
      return false;
    }
    runs.push_back(std::move(run));
  }
  return CheckPartsComplete(runs, error);
}

// The figures of the whole run: selections add up; the scan counts are the
// same in every part.
ManifestFigures MergedFigures(const std::vector<PartRun>& runs) {
  ManifestFigures figures = runs.front().figures;
  figures.selected = 0;
  for (const PartRun& run : runs) figures.selected += run.figures.selected;
  return figures;
}

}  // namespace

bool ParsePartSpec(std::string_view text, std::int32_t& index, std::int32_t& count) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  std::int32_t k = 0;
  std::int32_t n = 0;
  if (!ParseDigits(text.substr(0, slash), k) || !ParseDigits(text.substr(slash + 1), n)) return false;
  if (k < 1 || k > n || n > kMostParts) return false;
  index = k;
  count = n;
  return true;
}

std::vector<std::string> SelectPartImages(const std::vector<std::string>& sample,
                                          std::int32_t index, std::int32_t count) {
  std::vector<std::string> images;
  if (index < 1 || count < index) return images;
  for (size_t i = static_cast<size_t>(index - 1); i < sample.size(); i += static_cast<size_t>(count)) {
    images.push_back(sample[i]);
  }
  return images;
}

std::string SampleFingerprint(const std::vector<std::string>& sample) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  const auto add = [&hash](unsigned char byte) { hash = (hash ^ byte) * 0x100000001B3ull; };
  for (const std::string& path : sample) {
    for (const char c : path) add(static_cast<unsigned char>(c));
    add(0);  // paths never hold a NUL, so the sequence stays unambiguous
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string EngineListText(const ToolAvailability& tools) {
  std::string text = RawEngineName(kEngineWic);
  if (tools.jpegli) text += "," + RawEngineName(kEngineJpegli);
  if (tools.mozjpeg) text += "," + RawEngineName(kEngineMozjpeg);
  if (tools.jpegtran) text += "," + RawEngineName(kEngineJpegtran);
  return text;
}

std::string ComposePartFile(const BenchmarkPart& part) {
  return "Part=" + PartName(part) + "\nRoot=" + part.root +
         "\nMaxPerFolder=" + FormatInteger(part.maxPerFolder) +
         "\nMaxTotal=" + FormatInteger(part.maxTotal) + "\nDepth=" + FormatInteger(part.depth) +
         "\nSampleImages=" + std::to_string(part.sampleImages) + "\nSampleHash=" + part.sampleHash +
         "\nEngines=" + part.engines + "\n";
}

bool ParsePartFile(std::string_view text, BenchmarkPart& part) {
  const KeyValues values = ReadKeyValues(text);
  std::string spec;
  return ReadText(values, "Part", spec) && ParsePartSpec(spec, part.index, part.count) &&
         ReadText(values, "Root", part.root) &&
         ReadInt32Value(values, "MaxPerFolder", part.maxPerFolder) &&
         ReadInt32Value(values, "MaxTotal", part.maxTotal) &&
         ReadInt32Value(values, "Depth", part.depth) &&
         ReadUint64Value(values, "SampleImages", part.sampleImages) &&
         ReadText(values, "SampleHash", part.sampleHash) && ReadText(values, "Engines", part.engines);
}

bool MergeBenchmarkParts(const std::vector<std::string>& partFolders, std::string& mergedFolder,
                         std::string& error) {
  mergedFolder.clear();
  std::vector<PartRun> runs;
  if (!ReadCompatibleParts(partFolders, runs, error)) return false;
  CandidateGroups groups;
  std::string skipped;
  for (const PartRun& run : runs) {
    if (!ReadRawResults(JoinPath(run.folder, kRawFileName), groups)) {
      error = run.folder + ": " + kRawFileName + " ist nicht lesbar.";
      return false;
    }
    skipped += ReadWholeFile(JoinPath(run.folder, kSkippedImagesFileName));
  }
  std::string folder;
  if (!ReserveRunFolder(BenchmarkRunsFolder(), LocalTimeStamp(), folder)) {
    error = "Der Laufordner für die Zusammenführung konnte nicht angelegt werden.";
    return false;
  }
  const bool skippedWritten =
      skipped.empty() || AppendToFile(JoinPath(folder, kSkippedImagesFileName), skipped);
  if (!WriteSummaryFiles(folder, groups, MergedFigures(runs)) || !skippedWritten) {
    error = folder + ": Zusammenfassung oder Manifest konnten nicht geschrieben werden.";
    return false;
  }
  mergedFolder = folder;
  return true;
}
