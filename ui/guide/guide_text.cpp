// The guide text and the guide window's geometry; see guide_text.h.
#include "ui/guide/guide_text.h"

#include <algorithm>

// Line numbers on the right; every line but the last ends in "\r\n".
const char* const kGuideText =
    "Orvel JPEG Optimizer – Anleitung und Erklärung\r\n"  // 1
    "\r\n"  // 2
    "WAS MACHT DAS PROGRAMM?\r\n"  // 3
    "Orvel JPEG Optimizer 1.3.x verwendet benchmark-kalibrierte, feste Qualitätsprofile. "  // 4
    "Grundlage der ersten Kalibrierung waren 5.000 ausgewählte Dateien aus einem sehr "
    "großen und über viele Verzeichnisse verteilten Bildbestand. Ziel des Programms ist "
    "nicht die technisch maximal mögliche Kompression um jeden Preis. Die Standardprofile "
    "sind darauf ausgelegt, die Dateigröße möglichst effizient zu reduzieren, ohne dass "
    "bei normaler Betrachtung eine sichtbare Verschlechterung des Bildes entsteht. Dafür "
    "wurden Kompressionsstärke, Encoder und Qualitätsgrenzen anhand des Benchmarkbestands "
    "abgestimmt. Nach der Kompression kontrolliert das Programm das fertige Ergebnis "
    "zusätzlich auf Struktur-, Farb- und Detailabweichungen. Unterschreitet das Ergebnis "
    "die für das gewählte Profil festgelegte Qualitätsgrenze, wird es nicht als "
    "optimierte Datei übernommen und das Original bleibt erhalten. Das Profil 'Maximale "
    "Kompression' ist bewusst aggressiver und priorisiert eine kleinere Datei stärker als "
    "die übrigen Profile. Der eingebaute libjpeg-turbo-Encoder (WIC) dient im "
    "Schnellmodus/Fallback; Jpegli, MozJPEG und jpegtran werden in das Programm eingebettet "
    "und zur Laufzeit nur temporär entpackt.\r\n"
    "\r\n"  // 5
    "WIE WIRD DAS LAUFZEITERGEBNIS AUSGEWÄHLT?\r\n"  // 6
    "Die Encoderparameter jedes Profils wurden offline aus den Benchmarkdaten festgelegt. "  // 7
    "Während einer normalen Optimierung erzeugt die Bildanalyse keine neuen Q-Werte, "
    "Distanzen oder Chroma-Einstellungen. Im Schnellmodus wird ein einzelner WIC-Kandidat "
    "verwendet; Optimal nutzt den statistisch besten festen Hauptkandidaten. Bei JPEG "
    "kann zusätzlich ein vorab definierter verlustfreier jpegtran-Kandidat mitlaufen. "
    "Zuerst entscheidet ausschließlich die Dateigröße. Erst danach wird der feststehende "
    "Gewinner geprüft. Besteht er die Qualitätsgrenzen nicht, bleibt das Original "
    "erhalten.\r\n"
    "\r\n"  // 8
    "QUALITÄTSKONTROLLE\r\n"  // 9
    "Die nachgelagerte Analyse verwendet überlappende, codec-unabhängige Bildfenster. Sie "  // 10
    "bewertet Struktur, Farbabweichung, Kantenerhalt sowie Hinweise auf Ringing und "
    "Banding. Zusätzlich werden der globale Wert, die schwächsten fünf Prozent der "
    "Bereiche und die schlechteste Einzelregion betrachtet. 'Hohe visuelle Qualität' ist "
    "keine mathematische Verlustfreiheit; deshalb gibt es den direkten Bildvergleich mit "
    "100 bis 800 Prozent Zoom.\r\n"
    "\r\n"  // 11
    "RECHENMODI\r\n"  // 12
    "• Schnell: normalerweise ein benchmark-kalibrierter WIC-Lauf; bei Maximale Qualität "  // 13
    "+ JPEG bleibt jpegtran aus Qualitätsgründen verlustfrei.\r\n"
    "• Optimal (empfohlen): der aus den 5k-Daten gewählte Hauptencoder plus ggf. "  // 14
    "verlustfreie JPEG-Optimierung.\r\n"
    "• Maximum: zusätzliche statisch festgelegte Konkurrenzkandidaten nur dort, wo der "  // 15
    "Benchmark einen messbaren Nutzen gezeigt hat.\r\n"
    "\r\n"  // 16
    "QUALITÄTSPROFILE\r\n"  // 17
    "• Maximale Qualität: JPEG verlustfrei via jpegtran; andere Formate sehr konservativ "  // 18
    "mit Jpegli Distanz 0,50.\r\n"
    "• Sehr hohe Qualität: Jpegli Q92 / 4:2:0 Progressive; ca. 33,6 % mittlere Einsparung "  // 19
    "im Kalibrierungsbestand.\r\n"
    "• Hohe Qualität (empfohlen): Jpegli Q88 / 4:2:0 Progressive; ca. 44,3 % mittlere "  // 20
    "Einsparung.\r\n"
    "• Ausgewogen: Jpegli Q84 / 4:2:0 Progressive; ca. 53,4 % mittlere Einsparung.\r\n"  // 21
    "• Stark komprimiert: Jpegli Distanz 2,50; ca. 65,1 % mittlere Einsparung.\r\n"  // 22
    "• Maximale Kompression: MozJPEG Q56 / 4:2:0 Progressive + Trellis; ca. 75,5 % "  // 23
    "mittlere Einsparung.\r\n"
    "Die Werte sind Mittelwerte des Testbestands und keine Zusage für ein einzelnes Bild.\r\n"  // 24
    "\r\n"  // 25
    "STAPELBEARBEITUNG UND BILDVERGLEICH\r\n"  // 26
    "Über Datei > Bilder hinzufügen können mehrere JPEG-Dateien gleichzeitig markiert "  // 27
    "werden. Nach der Stapelbearbeitung öffnet sich der Bildvergleich automatisch. Mit ◀ "
    "und ▶ wechseln Sie durch den Stapel. Der Zoomregler reicht von 100 bis 800 Prozent; "
    "mit gedrückter linker Maustaste verschieben Sie denselben Ausschnitt synchron in "
    "Original und Ergebnis.\r\n"
    "Bilder und Ordner lassen sich auch per Drag & Drop in das Hauptfenster ziehen oder im "  // 28
    "Dateimanager über 'Öffnen mit' an das Programm übergeben. Jedes Ergebnis wird im "
    "Ausgabeordner als NAME_<profil>.jpg gespeichert, zum Beispiel urlaub_hoch.jpg für das "
    "Profil Hohe Qualität. Bleibt das Original erhalten, wird keine Datei geschrieben.\r\n"
    "Im Bildvergleich zeigt die Taste 0 (oder Einpassen) das ganze Bild. Q blendet über dem "  // 29
    "Ergebnis die Qualitätskarte der Analysefenster ein: gelb unter der Profilgrenze der "
    "schwächsten fünf Prozent, rot an oder unter der Grenze der schlechtesten Einzelregion. "
    "W springt zum schlechtesten Fenster, jedes weitere W zum nächstschlechteren; Esc "
    "schließt den Bildvergleich wie die Anleitung.";

GuideTextPlace PlaceGuideText(int clientWidth, int clientHeight) {
  return GuideTextPlace{kGuideTextMargin, kGuideTextMargin,
                        std::max(clientWidth - 2 * kGuideTextMargin, kGuideTextMinimumSize),
                        std::max(clientHeight - 2 * kGuideTextMargin, kGuideTextMinimumSize)};
}
