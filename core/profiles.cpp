// The compiled profile table and the compute-mode table; see profiles.h.
// Neighbours: candidate_plan.cpp (reads the rows), pipeline.cpp (the quality
// gate and the output name), parallel_encoding.cpp (the worker cap).
#include "core/profiles.h"

namespace {

// Rows 0..5 in menu order. The limits fall from row to row in every column.
const QualityProfile kProfiles[kProfileCount] = {
    {"Maximale Qualität", "max_qualitaet",
     "Für JPEG verlustfrei; andere Bildformate extrem konservativ.",
     "Benchmark-kalibriert: Vorhandene JPEG-Dateien werden in diesem Profil bevorzugt "
     "ausschließlich mit jpegtran verlustfrei optimiert. Bei PNG/BMP/TIFF wird Jpegli mit "
     "Distanz 0,50 verwendet. Dadurch bleibt 'Maximale Qualität' tatsächlich das "
     "konservativste Profil.",
     100, 88, 96, 0.5, 0.983, 0.976, 0.97, 0.98, 92, kEngineJpegli, true, true, 17.339,
     0.991077},
    {"Sehr hohe Qualität", "sehr_hoch",
     "Hochwertige Fotos mit deutlicher, aber konservativer Reduktion.",
     "Aus der 5.000-Bilder-Kalibrierung wurde Jpegli Q92 / 4:2:0 Progressive als effizientester "
     "feste Kandidat gewählt. Im Mittel wurden rund 33,6 % eingespart; schwierige Ausreißer "
     "werden weiterhin durch die nachgelagerte Qualitätskontrolle verworfen.",
     98, 84, 92, 0.75, 0.973, 0.958, 0.95, 0.965, 88, kEngineJpegli, false, false, 33.609,
     0.985972},
    {"Hohe Qualität (empfohlen)", "hoch",
     "Benchmark-kalibrierte Standardwahl für Fotos, Web und Dokumentation.",
     "Jpegli Q88 / 4:2:0 Progressive lieferte im großen Offline-Test die beste Kombination aus "
     "Dateigröße, robuster Bildqualität und Rechenzeit. Die mittlere Einsparung lag bei rund "
     "44,3 %. Das Profil bleibt die empfohlene Voreinstellung.",
     96, 72, 88, 1.0, 0.965, 0.942, 0.93, 0.954, 84, kEngineJpegli, false, false, 44.329,
     0.980121},
    {"Ausgewogen", "ausgewogen",
     "Mehr als 50 % mittlere Reduktion bei weiterhin guter Darstellung.",
     "Benchmark-kalibriert auf Jpegli Q84 / 4:2:0 Progressive. Im Testbestand wurden im Mittel "
     "rund 53,4 % Dateigröße eingespart. Für Web, E-Mail und größere Stapel; Unterschiede "
     "können bei starkem Zoom sichtbar werden.",
     92, 62, 84, 1.5, 0.955, 0.925, 0.905, 0.942, 80, kEngineJpegli, false, false, 53.39,
     0.972906},
    {"Stark komprimiert", "stark",
     "Hohe Reduktion; der Benchmark bevorzugt Jpegli Distanz 2,50.",
     "Die Offline-Daten zeigen für Jpegli Distanz 2,50 einen besonders guten "
     "Größen-/Qualitätskompromiss. Die mittlere Einsparung lag bei rund 65,1 %. Das Profil ist "
     "für weniger kritische Web- und interne Nutzung gedacht.",
     86, 50, 76, 2.5, 0.94, 0.895, 0.87, 0.92, 72, kEngineJpegli, true, false, 65.08,
     0.961065},
    {"Maximale Kompression", "max_kompression",
     "Kleinste Dateien \u2013 sichtbare Verluste sind ausdrücklich möglich.",
     "Im aggressiven Bereich war MozJPEG Q56 / 4:2:0 Progressive + Trellis im Mittel kleiner als "
     "die getesteten Jpegli-Varianten. Die durchschnittliche Reduktion lag bei rund 75,5 %. Für "
     "Vorschaubilder und schnelle Übertragung, nicht für Archiv oder Druck.",
     80, 38, 56, 3.0, 0.915, 0.855, 0.82, 0.89, 56, kEngineMozjpeg, false, false, 75.494,
     0.946041},
};

const char* const kModeNames[kComputeModeCount] = {"Schnell", "Optimal (empfohlen)", "Maximum"};
const int kModeWorkerCaps[kComputeModeCount] = {2, 4, 6};

bool IsValidMode(ComputeMode mode) { return mode >= 0 && mode < kComputeModeCount; }

}  // namespace

std::atomic<int> currentProfile{kDefaultProfile};
std::atomic<ComputeMode> currentMode{kDefaultComputeMode};

const QualityProfile& ProfileAt(int index) {
  // A selection out of range falls back to the recommended row, as the menus do.
  if (index < 0 || index >= kProfileCount) index = kDefaultProfile;
  return kProfiles[index];
}

const char* ComputeModeName(ComputeMode mode) {
  return kModeNames[IsValidMode(mode) ? mode : kDefaultComputeMode];
}

int ComputeModeWorkerCap(ComputeMode mode) {
  return kModeWorkerCaps[IsValidMode(mode) ? mode : kDefaultComputeMode];
}

const char* EngineName(std::int32_t engine) {
  switch (engine) {
    case kEngineWic: return "WIC";
    case kEngineMozjpeg: return "MozJPEG";
    case kEngineJpegli: return "Jpegli";
    case kEngineJpegtran: return "jpegtran";
    default: return "";
  }
}
