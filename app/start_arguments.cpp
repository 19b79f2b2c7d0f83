// The desktop program's command line; see start_arguments.h.
#include "app/start_arguments.h"

StartArguments ParseStartArguments(const std::vector<std::string>& arguments) {
  StartArguments parsed;
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      parsed.paths.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--version") {
      if (parsed.action == StartAction::kRun) parsed.action = StartAction::kVersion;
    } else if (argument == "--help" || argument == "-h") {
      if (parsed.action == StartAction::kRun) parsed.action = StartAction::kHelp;
    } else {
      parsed.action = StartAction::kUsageError;
      parsed.badOption = argument;
      return parsed;
    }
  }
  return parsed;
}

std::string StartVersionText() { return std::string("Orvel JPEG Optimizer ") + ORVEL_VERSION + "\n"; }

std::string StartUsageText() {
  return "Aufruf: OrvelJpegOptimizer [DATEI|ORDNER]\u2026\n"
         "\u00d6ffnet das Programm mit diesen JPEG-Bildern in der Liste (Ordner werden nach "
         "JPEG-Dateien durchsucht).\n"
         "  --version   Programmname und Version ausgeben\n"
         "  --help      diese Hilfe ausgeben\n";
}

std::string StartUsageErrorText(const std::string& badOption) {
  return "OrvelJpegOptimizer: unbekannte Option \u201e" + badOption + "\u201c\n" + StartUsageText();
}
