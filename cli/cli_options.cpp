// Argument parsing and the image list of orvel-cli; see cli_options.h.
// Neighbours: cli_commands.cpp runs the parsed record; main.cpp glues both.
#include "cli/cli_options.h"

#include <algorithm>

#include "core/profiles.h"
#include "platform/text.h"

namespace {

bool ParseMode(const std::string& text, int& mode) {
  if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + kComputeModeCount) return false;
  mode = text[0] - '0';
  return true;
}

// A whole number of images at once, 1 to kMaxJobs, digits only.
bool ParseJobs(const std::string& text, int& jobs) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxJobs) return false;
  jobs = value;
  return true;
}

// Reads the value of an option given as "--name value" or "--name=value".
bool TakeOptionValue(const std::vector<std::string>& arguments, size_t& i,
                     const std::string& name, std::string& value, bool& matched) {
  const std::string& argument = arguments[i];
  matched = false;
  if (argument == name) {
    matched = true;
    if (i + 1 >= arguments.size()) return false;
    value = arguments[++i];
    return true;
  }
  if (argument.rfind(name + "=", 0) == 0) {
    matched = true;
    value = argument.substr(name.size() + 1);
    return true;
  }
  return true;
}

bool ParseOptimize(const std::vector<std::string>& arguments, CliOptions& options,
                   std::string& error) {
  bool onlyFiles = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
      options.files.push_back(argument);
      continue;
    }
    if (argument == "--") { onlyFiles = true; continue; }
    std::string value;
    bool matched = false;
    if (!TakeOptionValue(arguments, i, "--profile", value, matched)) {
      error = "Option --profile erwartet einen Profilschlüssel oder 0 bis 5.";
      return false;
    }
    if (matched) {
      options.profile = ParseProfileArgument(value);
      if (options.profile < 0) { error = "Unbekanntes Profil: " + value; return false; }
      continue;
    }
    if (!TakeOptionValue(arguments, i, "--mode", value, matched)) {
      error = "Option --mode erwartet 0, 1 oder 2.";
      return false;
    }
    if (matched) {
      if (!ParseMode(value, options.mode)) { error = "Unbekannter Rechenmodus: " + value; return false; }
      continue;
    }
    if (!TakeOptionValue(arguments, i, "--jobs", value, matched) ||
        (matched && !ParseJobs(value, options.jobs))) {
      error = "Option --jobs erwartet eine Zahl von 1 bis " + FormatInteger(kMaxJobs) + ".";
      return false;
    }
    if (matched) continue;
    if (!TakeOptionValue(arguments, i, "--output", value, matched)) {
      error = "Option --output erwartet einen Ordner.";
      return false;
    }
    if (matched) { options.outputFolder = value; continue; }
    error = "Unbekannte Option: " + argument;
    return false;
  }
  if (options.outputFolder.empty()) {
    error = "Bitte mit --output einen Ausgabeordner angeben.";
    return false;
  }
  return true;
}

}  // namespace

int ParseProfileArgument(const std::string& text) {
  if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + kProfileCount) return text[0] - '0';
  for (int index = 0; index < kProfileCount; ++index) {
    if (text == ProfileAt(index).key) return index;
  }
  return -1;
}

bool ParseCliArguments(const std::vector<std::string>& arguments, CliOptions& options,
                       std::string& error) {
  options = CliOptions{};
  error.clear();
  if (arguments.empty()) {
    error = "Kein Befehl angegeben.";
    return false;
  }
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") {
      options.command = CliCommand::kHelp;
      return true;
    }
  }
  const std::string& command = arguments[0];
  if (command == "optimize") {
    options.command = CliCommand::kOptimize;
    return ParseOptimize(arguments, options, error);
  }
  if (command == "status") {
    options.command = CliCommand::kStatus;
    if (arguments.size() == 1) return true;
    error = "Der Befehl status nimmt keine Argumente.";
    return false;
  }
  if (command == "analyze") {
    options.command = CliCommand::kAnalyze;
    if (arguments.size() == 3) {
      options.reference = arguments[1];
      options.test = arguments[2];
      return true;
    }
    error = "Der Befehl analyze erwartet genau zwei Bilder: REFERENZ TEST.";
    return false;
  }
  error = "Unbekannter Befehl: " + command;
  return false;
}

std::string CliUsageText() {
  std::string text =
      "Orvel JPEG Optimizer \u2013 Kommandozeile\n"
      "\n"
      "Aufruf:\n"
      "  orvel-cli optimize [--profile SCHLÜSSEL|0-5] [--mode 0-2] [--jobs N]\n"
      "                     --output ORDNER DATEI|ORDNER...\n"
      "  orvel-cli status\n"
      "  orvel-cli analyze REFERENZ TEST\n"
      "  orvel-cli bench VERZEICHNIS [--per-folder N] [--total N] [--depth 0-2]\n"
      "                  [--shard K/N]\n"
      "  orvel-cli bench --resume\n"
      "  orvel-cli bench --merge LAUFORDNER...\n"
      "  orvel-cli --help\n"
      "\n"
      "Befehle:\n"
      "  optimize  Optimiert die Bilder in sortierter Reihenfolge (doppelte Angaben und\n"
      "            mehrfach genannte Dateien zählen einmal) und schreibt jedes Ergebnis\n"
      "            als NAME_SCHLÜSSEL.jpg in den Ausgabeordner. Ein angegebener Ordner\n"
      "            wird samt Unterordnern nach .jpg, .jpeg und .jpe durchsucht (in jeder\n"
      "            Schreibweise); symbolische Verknüpfungen auf Ordner werden dabei nicht\n"
      "            verfolgt. Der Ausgabeordner muss bestehen; er wird nie angelegt. Pro\n"
      "            Bild erscheint eine Ergebniszeile in Listenreihenfolge, am Ende eine\n"
      "            Zusammenfassung. --jobs N bearbeitet bis zu N Bilder gleichzeitig\n"
      "            (Voreinstellung: Zahl der Prozessor-Threads geteilt durch die\n"
      "            Encoder-Threads des Rechenmodus, mindestens 1); Ergebnisse und\n"
      "            Ausgabedateien sind dieselben wie mit --jobs 1. Strg+C beendet den\n"
      "            Stapel, sobald die laufenden Bilder fertig sind.\n"
      "  status    Zeigt den Encoder-Status der eingebetteten Werkzeuge.\n"
      "  analyze   Vergleicht TEST mit REFERENZ und gibt die acht Kennzahlen und die\n"
      "            Zahl der Fenster aus (name=wert, 17 signifikante Stellen).\n"
      "  bench     Profilentwicklung: misst eine ausgewogene Stichprobe aus VERZEICHNIS\n"
      "            mit dem Kandidatenraster der Testtiefe (0 Kompakt, 1 Standard,\n"
      "            2 Tiefenanalyse); je Unterverzeichnis höchstens --per-folder Bilder\n"
      "            (Voreinstellung 5), insgesamt höchstens --total (5000). Strg+C bricht vor\n"
      "            dem nächsten Kandidaten ab; --resume setzt die Sitzung fort.\n"
      "            --shard K/N misst nur Teil K von N der Stichprobe (je Rechner ein\n"
      "            Teil); --merge fasst die Laufordner aller Teile zusammen.\n"
      "\n"
      "Profile (--profile, Voreinstellung 2):\n";
  for (int index = 0; index < kProfileCount; ++index) {
    const QualityProfile& profile = ProfileAt(index);
    std::string key = profile.key;
    key.resize(std::max<size_t>(key.size(), 16), ' ');
    text += "  " + FormatInteger(index) + "  " + key + profile.label + "\n";
  }
  text += "\nRechenmodi (--mode, Voreinstellung 1):\n";
  for (int mode = 0; mode < kComputeModeCount; ++mode) {
    text += "  " + FormatInteger(mode) + "  " + ComputeModeName(mode) + "\n";
  }
  text +=
      "\n"
      "Exit-Status:\n"
      "  0    jedes Bild hat ein Ergebnis (optimiert oder Original behalten)\n"
      "  1    mindestens ein Bild ist fehlgeschlagen; bei analyze: Vergleich ungültig\n"
      "       oder Bild nicht lesbar\n"
      "  2    falscher Aufruf, keine Bilder oder kein gültiger Ausgabeordner\n"
      "  130  durch Strg+C abgebrochen (143 bei SIGTERM)\n";
  return text;
}
