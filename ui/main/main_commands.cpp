// The menu table of the main window; see main_commands.h.
#include "ui/main/main_commands.h"

#include "core/profiles.h"

std::vector<MenuEntry> BuildMenuBarTable() {
  std::vector<MenuEntry> menus;
  menus.push_back({"Datei",
                   {{kCmdAddImages, "Bilder hinzuf\u00fcgen\u2026\tStrg+O"},
                    {kCmdChooseOutputFolder, "Ausgabepfad ausw\u00e4hlen\u2026"},
                    {kCmdClearImageList, "Liste leeren"},
                    {kCmdStopBatch, "Stapelverarbeitung abbrechen\tEsc"},
                    {0, ""},
                    {kCmdExit, "Beenden"}}});
  menus.push_back({"Funktionen",
                   {{kCmdStartBatch, "Stapelbearbeitung starten\tF5"},
                    {kCmdOpenCompareWindow, "Bildvergleich \u00f6ffnen\tF6"},
                    {kCmdOpenOutputFolder, "Ausgabeordner \u00f6ffnen"}}});
  MenuEntry profiles{"Qualit\u00e4tsprofil", {}};
  for (int k = 0; k < kProfileCount; ++k) {
    profiles.items.push_back({kCmdFirstProfile + k, ProfileAt(k).label, true});
  }
  menus.push_back(profiles);
  MenuEntry modes{"Rechenmodus", {}};
  for (int k = 0; k < kComputeModeCount; ++k) {
    modes.items.push_back({kCmdFirstMode + k, ComputeModeName(k), true});
  }
  menus.push_back(modes);
  menus.push_back({"Hilfe",
                   {{kCmdOpenGuide, "Anleitung & Erkl\u00e4rung"},
                    {kCmdEncoderStatus, "Encoder-Status"},
                    {kCmdOpenEngineFolder, "Tempor\u00e4ren Encoder-Arbeitsordner \u00f6ffnen"},
                    {0, ""},
                    {kCmdAbout, "\u00dcber Orvel JPEG Optimizer"}}});
  return menus;
}
