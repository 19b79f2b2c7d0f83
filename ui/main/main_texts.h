// The main window's fixed texts and the status-bar and message texts it forms.
//
// Every text here is shown to the user exactly as written (German, en dashes,
// ellipses). Qt-free so tests compare them character for character; the Qt
// layer converts them with QString::fromUtf8. Line ends inside the texts are
// "\n" except where a function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr const char* kProductName = "Orvel JPEG Optimizer";
constexpr const char* kProfileCalibration = "5k-2026-08";

// Status bar.
constexpr const char* kStatusReady = "Bereit";
constexpr const char* kStatusListCleared = "Liste geleert";
constexpr const char* kStatusBatchFinished = "Stapelbearbeitung abgeschlossen";
constexpr const char* kStatusBatchStopped = "Stapelverarbeitung abgebrochen";
constexpr const char* kStatusBatchStopping =
    "Stapelverarbeitung wird abgebrochen \u2013 die laufenden Bilder werden beendet\u2026";
constexpr const char* kStatusWaitForBatch =
    "Bitte warten \u2013 die laufende Optimierung wird zuerst beendet.";

// Message boxes: titles and texts.
constexpr const char* kTitleBatch = "Stapelbearbeitung";
constexpr const char* kTitleEncoder = "Encoder";
constexpr const char* kTitleEncoderStatus = "Encoder-Status";
constexpr const char* kTitleAbout = "\u00dcber";
constexpr const char* kMessageNoImages = "Bitte zuerst mindestens ein JPEG-Bild hinzuf\u00fcgen.";
constexpr const char* kMessageInvalidOutputFolder = "Bitte einen g\u00fcltigen Ausgabepfad ausw\u00e4hlen.";
constexpr const char* kMessageEnginesMissing =
    "Die eingebetteten Encoder konnten nicht materialisiert werden.";
constexpr const char* kQuestionStopBatchAndClose =
    "Die Stapelverarbeitung l\u00e4uft noch. Abbrechen und schlie\u00dfen?";
constexpr const char* kMessageBenchmarkBlocksBatch =
    "W\u00e4hrend der Profilentwicklung wird keine normale Stapelkompression gestartet. Bitte den "
    "Profiltest zuerst pausieren oder abbrechen.";
constexpr const char* kMessageBenchmarkBlocksClose =
    "Der Profiltest l\u00e4uft noch. Bitte im Fenster 'Profilentwicklung' zuerst pausieren oder "
    "abbrechen.";
// The same refusals while the run is paused: pausing is done already.
constexpr const char* kMessagePausedBenchmarkBlocksBatch =
    "W\u00e4hrend der Profilentwicklung wird keine normale Stapelkompression gestartet. Bitte den "
    "pausierten Profiltest zuerst fortsetzen oder abbrechen.";
constexpr const char* kMessagePausedBenchmarkBlocksClose =
    "Der Profiltest ist pausiert. Bitte im Fenster 'Profilentwicklung' zuerst fortfahren oder "
    "abbrechen.";

// Dialogs.
constexpr const char* kFolderChooserTitle = "Ausgabepfad ausw\u00e4hlen";
constexpr const char* kImageFilterName = "JPEG-Bilder";
constexpr const char* kAllFilesFilterName = "Alle Dateien";

// Buttons and painted texts.
constexpr const char* kStartButtonText = "\u25b6  KOMPRIMIERUNG STARTEN";
constexpr const char* kStartButtonBusyText = "OPTIMIERUNG L\u00c4UFT\u2026";
constexpr const char* kChooseButtonText = "Ausw\u00e4hlen\u2026";
constexpr const char* kCardCaptions[3] = {"1  Bilder / Stapel", "2  Vorschau",
                                           "3  Ausgabe & Optimierung"};
constexpr const char* kStackHint = "Mehrfachauswahl \u00fcber Datei > Bilder hinzuf\u00fcgen\u2026";
constexpr const char* kOutputCaption = "Ausgabeordner";
constexpr const char* kLiveStatusCaption = "Live-Status w\u00e4hrend der Optimierung";
constexpr const char* kResultsCaption = "Ergebnisse / Gewinner";
// The preview pane's hint, with "\r\n" line ends as the program forms it.
constexpr const char* kPreviewHint =
    "Noch kein Bild geladen.\r\n\r\nW\u00e4hle \u00fcber Datei > Bilder hinzuf\u00fcgen\u2026 ein oder "
    "mehrere JPEG-Bilder aus. Das aktuell markierte Bild wird hier sofort angezeigt.";

// The preview pane's text for a file that cannot be decoded: a first line,
// an empty line, then "<name> kann nicht angezeigt werden: <reason>."
std::string PreviewFailureText(const std::string& fileName, const std::string& reason);

// "Stapelbearbeitung abgeschlossen   |   <k> von <n> Bild(ern) optimiert   |
// <before> → <after>   |   <saving> % kleiner", sizes by FormatBytes, the
// saving with one decimal (0.0 when nothing was read); then, when images
// failed, "   |   <failed> Fehler" as orvel-cli's summary counts them.
std::string BatchFinishedStatus(std::size_t optimizedCount, std::size_t imageCount,
                                std::uint64_t bytesBefore, std::uint64_t bytesAfter,
                                std::size_t failedCount = 0);

// The status bar's lasting part: "Profil: <profile>   |   Modus: <mode>".
std::string SelectionStatus(const std::string& profileLabel, const std::string& modeName);

// "<count> Bild(er) ausgewählt".
std::string ImagesSelectedStatus(std::size_t count);

// "WIC", then " + Jpegli", " + MozJPEG", " + jpegtran" for each tool present.
std::string EngineSummaryText(bool jpegli, bool mozjpeg, bool jpegtran);

// "Optimiere <i> von <n>: <name>   |   <mode>   |   <engines>".
std::string BatchImageStatus(std::size_t index, std::size_t count, const std::string& name,
                             const std::string& modeName, const std::string& engineSummary);

// The About box: product, "Version 1.3.3", "Profilkalibrierung: 5k-2026-08".
std::string AboutText();

// Replaces every "\r\n" by "\n" (texts formed with Windows line ends, shown
// by widgets that break lines at "\n").
std::string ToDisplayLineEnds(const std::string& text);
