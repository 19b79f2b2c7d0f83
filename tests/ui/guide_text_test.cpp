// The guide text byte for byte (an independent copy, one entry per line),
// its structure, and the text control's place for a client size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/guide/guide_text.h"

namespace {

const std::vector<std::string>& ExpectedLines() {
  static const std::vector<std::string> lines = {
      "Orvel JPEG Optimizer – Anleitung und Erklärung",
      "",
      "WAS MACHT DAS PROGRAMM?",
      "Orvel JPEG Optimizer 1.3.x verwendet benchmark-kalibrierte, feste "
      "Qualitätsprofile. Grundlage der ersten Kalibrierung waren 5.000 ausgewählte "
      "Dateien aus einem sehr großen und über viele Verzeichnisse verteilten "
      "Bildbestand. Ziel des Programms ist nicht die technisch maximal mögliche "
      "Kompression um jeden Preis. Die Standardprofile sind darauf ausgelegt, die "
      "Dateigröße möglichst effizient zu reduzieren, ohne dass bei normaler Betrachtung "
      "eine sichtbare Verschlechterung des Bildes entsteht. Dafür wurden "
      "Kompressionsstärke, Encoder und Qualitätsgrenzen anhand des Benchmarkbestands "
      "abgestimmt. Nach der Kompression kontrolliert das Programm das fertige Ergebnis "
      "zusätzlich auf Struktur-, Farb- und Detailabweichungen. Unterschreitet das "
      "Ergebnis die für das gewählte Profil festgelegte Qualitätsgrenze, wird es nicht "
      "als optimierte Datei übernommen und das Original bleibt erhalten. Das Profil "
      "'Maximale Kompression' ist bewusst aggressiver und priorisiert eine kleinere "
      "Datei stärker als die übrigen Profile. Der eingebaute libjpeg-turbo-Encoder (WIC) "
      "dient im Schnellmodus/Fallback; Jpegli, MozJPEG und jpegtran werden in das "
      "Programm eingebettet und zur Laufzeit nur temporär entpackt.",
      "",
      "WIE WIRD DAS LAUFZEITERGEBNIS AUSGEWÄHLT?",
      "Die Encoderparameter jedes Profils wurden offline aus den Benchmarkdaten "
      "festgelegt. Während einer normalen Optimierung erzeugt die Bildanalyse keine "
      "neuen Q-Werte, Distanzen oder Chroma-Einstellungen. Im Schnellmodus wird ein "
      "einzelner WIC-Kandidat verwendet; Optimal nutzt den statistisch besten festen "
      "Hauptkandidaten. Bei JPEG kann zusätzlich ein vorab definierter verlustfreier "
      "jpegtran-Kandidat mitlaufen. Zuerst entscheidet ausschließlich die Dateigröße. "
      "Erst danach wird der feststehende Gewinner geprüft. Besteht er die "
      "Qualitätsgrenzen nicht, bleibt das Original erhalten.",
      "",
      "QUALITÄTSKONTROLLE",
      "Die nachgelagerte Analyse verwendet überlappende, codec-unabhängige Bildfenster. "
      "Sie bewertet Struktur, Farbabweichung, Kantenerhalt sowie Hinweise auf Ringing "
      "und Banding. Zusätzlich werden der globale Wert, die schwächsten fünf Prozent "
      "der Bereiche und die schlechteste Einzelregion betrachtet. 'Hohe visuelle "
      "Qualität' ist keine mathematische Verlustfreiheit; deshalb gibt es den direkten "
      "Bildvergleich mit 100 bis 800 Prozent Zoom.",
      "",
      "RECHENMODI",
      "• Schnell: normalerweise ein benchmark-kalibrierter WIC-Lauf; bei Maximale "
      "Qualität + JPEG bleibt jpegtran aus Qualitätsgründen verlustfrei.",
      "• Optimal (empfohlen): der aus den 5k-Daten gewählte Hauptencoder plus ggf. "
      "verlustfreie JPEG-Optimierung.",
      "• Maximum: zusätzliche statisch festgelegte Konkurrenzkandidaten nur dort, wo "
      "der Benchmark einen messbaren Nutzen gezeigt hat.",
      "",
      "QUALITÄTSPROFILE",
      "• Maximale Qualität: JPEG verlustfrei via jpegtran; andere Formate sehr "
      "konservativ mit Jpegli Distanz 0,50.",
      "• Sehr hohe Qualität: Jpegli Q92 / 4:2:0 Progressive; ca. 33,6 % mittlere "
      "Einsparung im Kalibrierungsbestand.",
      "• Hohe Qualität (empfohlen): Jpegli Q88 / 4:2:0 Progressive; ca. 44,3 % mittlere "
      "Einsparung.",
      "• Ausgewogen: Jpegli Q84 / 4:2:0 Progressive; ca. 53,4 % mittlere Einsparung.",
      "• Stark komprimiert: Jpegli Distanz 2,50; ca. 65,1 % mittlere Einsparung.",
      "• Maximale Kompression: MozJPEG Q56 / 4:2:0 Progressive + Trellis; ca. 75,5 % "
      "mittlere Einsparung.",
      "Die Werte sind Mittelwerte des Testbestands und keine Zusage für ein einzelnes "
      "Bild.",
      "",
      "STAPELBEARBEITUNG UND BILDVERGLEICH",
      "Über Datei > Bilder hinzufügen können mehrere JPEG-Dateien gleichzeitig markiert "
      "werden. Nach der Stapelbearbeitung öffnet sich der Bildvergleich automatisch. "
      "Mit ◀ und ▶ wechseln Sie durch den Stapel. Der Zoomregler reicht von 100 bis 800 "
      "Prozent; mit gedrückter linker Maustaste verschieben Sie denselben Ausschnitt "
      "synchron in Original und Ergebnis.",
  };
  return lines;
}

std::vector<std::string> SplitAtCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

TEST(GuideText, IsExactlyTheTwentySevenLinesJoinedByCrLf) {
  std::string expected;
  for (std::size_t i = 0; i < ExpectedLines().size(); ++i) {
    if (i > 0) expected += "\r\n";
    expected += ExpectedLines()[i];
  }
  ASSERT_EQ(ExpectedLines().size(), 27u);
  const std::string text = kGuideText;
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.size(), 3889u);
  // Line by line, so a difference names its line.
  const std::vector<std::string> lines = SplitAtCrLf(text);
  ASSERT_EQ(lines.size(), 27u);
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], ExpectedLines()[i]) << "line " << i + 1;
}

TEST(GuideText, LineBreaksAndSpecialCharacters) {
  const std::string text = kGuideText;
  // No lone "\r" or "\n", no break after the last line.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      EXPECT_EQ(text[i + 1], '\n') << i;
    }
    if (text[i] == '\n') {
      EXPECT_EQ(text[i - 1], '\r') << i;
    }
  }
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(text.rfind("Orvel JPEG Optimizer \xe2\x80\x93 Anleitung und Erkl\xc3\xa4rung\r\n", 0), 0u);
  // Nine bullets: three compute modes and six profiles.
  std::size_t bullets = 0;
  for (std::size_t at = 0; (at = text.find("\r\n\xe2\x80\xa2 ", at)) != std::string::npos; ++at) ++bullets;
  EXPECT_EQ(bullets, 9u);
  EXPECT_NE(text.find("Mit \xe2\x97\x80 und \xe2\x96\xb6 wechseln Sie"), std::string::npos);
}

TEST(GuideText, SixHeadingsEachAfterAnEmptyLine) {
  const std::vector<std::string> lines = SplitAtCrLf(kGuideText);
  ASSERT_EQ(lines.size(), 27u);
  const std::vector<std::pair<std::size_t, std::string>> headings = {
      {3, "WAS MACHT DAS PROGRAMM?"},
      {6, "WIE WIRD DAS LAUFZEITERGEBNIS AUSGEW\u00c4HLT?"},
      {9, "QUALIT\u00c4TSKONTROLLE"},
      {12, "RECHENMODI"},
      {17, "QUALIT\u00c4TSPROFILE"},
      {26, "STAPELBEARBEITUNG UND BILDVERGLEICH"}};
  for (const auto& [number, heading] : headings) {
    EXPECT_EQ(lines[number - 1], heading);
    EXPECT_EQ(lines[number - 2], "") << "before line " << number;
  }
}

TEST(GuideTextPlace, FillsTheClientAreaLessSixteenPixelsAndKeeps100) {
  const auto same = [](const GuideTextPlace& p, int l, int t, int w, int h) {
    return p.left == l && p.top == t && p.width == w && p.height == h;
  };
  EXPECT_TRUE(same(PlaceGuideText(1044, 761), 16, 16, 1012, 729));
  EXPECT_TRUE(same(PlaceGuideText(132, 132), 16, 16, 100, 100));
  EXPECT_TRUE(same(PlaceGuideText(131, 40), 16, 16, 100, 100));
  EXPECT_TRUE(same(PlaceGuideText(0, 0), 16, 16, 100, 100));
  EXPECT_TRUE(same(PlaceGuideText(133, 500), 16, 16, 101, 468));
}

}  // namespace
