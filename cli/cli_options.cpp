// Argument parsing of orvel-cli and its bench command; see cli_options.h.
// Neighbours: cli_commands.cpp runs the parsed record, bench_command.cpp the
// bench command; main.cpp glues them.
#include "cli/cli_options.h"

#include <algorithm>
#include <utility>

#include "bench/run_parts.h"
#include "bench/sampling.h"
#include "core/profiles.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

// Always false, so a refusal is one statement.
bool Refuse(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

// An option rather than a file: "-" alone names a file.
bool IsOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

// "--name" of "--name=value" or "--name".
std::string OptionName(const std::string& argument) {
  return argument.substr(0, argument.find('='));
}

// The value of the option at arguments[i]: attached after "=", else the next
// argument, which is then consumed. False when there is none.
bool TakeOptionValue(const std::vector<std::string>& arguments, size_t& i, std::string& value) {
  const std::string& argument = arguments[i];
  const size_t equals = argument.find('=');
  if (equals != std::string::npos) {
    value = argument.substr(equals + 1);
    return true;
  }
  if (i + 1 >= arguments.size()) return false;
  value = arguments[++i];
  return true;
}

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

// The switches of optimize, which take no value; nullptr for another name.
bool* OptimizeSwitch(const std::string& name, CliOptions& options) {
  if (name == "--keep-structure") return &options.keepStructure;
  if (name == "--json") return &options.json;
  if (name == "--update") return &options.update;
  if (name == "--replace") return &options.replace;
  if (name == "--preserve") return &options.preserve;
  return nullptr;
}

// One option of optimize; the value taken from `arguments` as it needs.
bool ParseOptimizeOption(const std::vector<std::string>& arguments, size_t& i, CliOptions& options,
                         std::string& error) {
  const std::string name = OptionName(arguments[i]);
  std::string value;
  if (bool* flag = OptimizeSwitch(name, options)) {
    *flag = true;
    return name == arguments[i] || Refuse(error, "Option " + name + " nimmt keinen Wert.");
  }
  if (name == "--profile") {
    if (!TakeOptionValue(arguments, i, value)) {
      return Refuse(error, "Option --profile erwartet einen Profilschlüssel oder 0 bis 5.");
    }
    options.profile = ParseProfileArgument(value);
    return options.profile >= 0 || Refuse(error, "Unbekanntes Profil: " + value);
  }
  if (name == "--mode") {
    if (!TakeOptionValue(arguments, i, value)) {
      return Refuse(error, "Option --mode erwartet 0, 1 oder 2.");
    }
    return ParseMode(value, options.mode) || Refuse(error, "Unbekannter Rechenmodus: " + value);
  }
  if (name == "--jobs") {
    const std::string range = "1 bis " + FormatInteger(kMaxJobs);
    return (TakeOptionValue(arguments, i, value) && ParseJobs(value, options.jobs)) ||
           Refuse(error, "Option --jobs erwartet eine Zahl von " + range + ".");
  }
  if (name == "--output") {
    if (!TakeOptionValue(arguments, i, options.outputFolder)) {
      return Refuse(error, "Option --output erwartet einen Ordner.");
    }
    return true;
  }
  return Refuse(error, "Unbekannte Option: " + arguments[i]);
}

bool ParseOptimize(const std::vector<std::string>& arguments, CliOptions& options,
                   std::string& error) {
  bool onlyFiles = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (onlyFiles || !IsOption(argument)) {
      options.files.push_back(argument);
    } else if (argument == "--") {
      onlyFiles = true;
    } else if (!ParseOptimizeOption(arguments, i, options, error)) {
      return false;
    }
  }
  if (options.replace && !options.outputFolder.empty()) {
    return Refuse(error, "--replace und --output schließen einander aus.");
  }
  // Without an output folder there is nothing to mirror or to be current.
  if (options.replace && (options.keepStructure || options.update)) {
    return Refuse(error, std::string(options.update ? "--update" : "--keep-structure") +
                             " hat mit --replace keine Bedeutung.");
  }
  return options.replace || !options.outputFolder.empty() ||
         Refuse(error, "Bitte mit --output einen Ausgabeordner oder --replace angeben.");
}

// One of bench's options that take a value.
bool ParseBenchLimit(const std::string& name, const std::string& value,
                     BenchCommandOptions& options, std::string& error) {
  if (name == "--shard") {
    return ParsePartSpec(value, options.partIndex, options.partCount) ||
           Refuse(error, "Ungültige Angabe für --shard: " + value +
                             " (erwartet K/N mit 1 \u2264 K \u2264 N).");
  }
  if (name == "--per-folder") {
    options.perFolder =
        ReadClampedInteger(value, kPerFolderDefault, kPerFolderMinimum, kPerFolderMaximum);
  } else if (name == "--total") {
    options.total = ReadClampedInteger(value, kTotalDefault, kTotalMinimum, kTotalMaximum);
  } else if (value == "0" || value == "1" || value == "2") {
    options.depth = value[0] - '0';
  } else {
    return Refuse(error, "Ungültige Testtiefe: " + value + " (erlaubt: 0, 1, 2).");
  }
  return true;
}

bool IsBenchLimit(const std::string& name) {
  return name == "--shard" || name == "--per-folder" || name == "--total" || name == "--depth";
}

// What the bench arguments may not combine; `folders` are the plain arguments.
bool CheckBenchCombination(const std::vector<std::string>& folders, bool limitsGiven,
                           BenchCommandOptions& options, std::string& error) {
  if (options.resume && (!folders.empty() || limitsGiven || options.merge)) {
    return Refuse(error,
                  "--resume setzt die gespeicherte Sitzung fort und nimmt keine weiteren Angaben.");
  }
  if (options.merge) {
    if (folders.empty() || limitsGiven) {
      return Refuse(error, "--merge nimmt nur die Laufordner der Teile.");
    }
    for (const std::string& folder : folders) {
      options.mergeFolders.push_back(NormalisedAbsolutePath(folder, {}, ParentSteps::kKeep));
    }
    return true;
  }
  if (options.resume) return true;
  if (folders.size() != 1) return Refuse(error, "Bitte genau ein Verzeichnis angeben.");
  options.root = NormalisedAbsolutePath(folders.front(), {}, ParentSteps::kKeep);
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

bool ParseBenchArguments(const std::vector<std::string>& arguments, BenchCommandOptions& options,
                         std::string& error) {
  options = BenchCommandOptions{};
  std::vector<std::string> folders;
  bool onlyFolders = false;
  bool limitsGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::string name = OptionName(argument);
    std::string value;
    if (onlyFolders || !IsOption(argument)) {
      folders.push_back(argument);
    } else if (argument == "--") {
      onlyFolders = true;
    } else if (argument == "--resume" || argument == "--merge") {
      (argument == "--resume" ? options.resume : options.merge) = true;
    } else if (!IsBenchLimit(name)) {
      return Refuse(error, "Unbekannte Option: " + argument);
    } else if (!TakeOptionValue(arguments, i, value)) {
      return Refuse(error, "Fehlender Wert für " + name + ".");
    } else if (!ParseBenchLimit(name, value, options, error)) {
      return false;
    } else {
      limitsGiven = true;
    }
  }
  return CheckBenchCombination(folders, limitsGiven, options, error);
}

bool ParseCliArguments(const std::vector<std::string>& arguments, CliOptions& options,
                       std::string& error) {
  options = CliOptions{};
  error.clear();
  if (arguments.empty()) return Refuse(error, "Kein Befehl angegeben.");
  bool version = false;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") return true;  // options.command is kHelp
    version = version || argument == "--version";
  }
  if (version) {
    options.command = CliCommand::kVersion;
    return true;
  }
  const std::string& command = arguments[0];
  if (command == "optimize") {
    options.command = CliCommand::kOptimize;
    return ParseOptimize(arguments, options, error);
  }
  if (command == "status") {
    options.command = CliCommand::kStatus;
    return arguments.size() == 1 || Refuse(error, "Der Befehl status nimmt keine Argumente.");
  }
  if (command == "analyze") {
    options.command = CliCommand::kAnalyze;
    if (arguments.size() != 3) {
      return Refuse(error, "Der Befehl analyze erwartet genau zwei Bilder: REFERENZ TEST.");
    }
    options.reference = arguments[1];
    options.test = arguments[2];
    return true;
  }
  if (command == "bench") {
    options.command = CliCommand::kBench;
    return ParseBenchArguments({arguments.begin() + 1, arguments.end()}, options.bench, error);
  }
  return Refuse(error, "Unbekannter Befehl: " + command);
}

std::string CliUsageText() {
  std::string text =
      "Orvel JPEG Optimizer \u2013 Kommandozeile\n"
      "\n"
      "Aufruf:\n"
      "  orvel-cli optimize [--profile SCHLÜSSEL|0-5] [--mode 0-2] [--jobs N]\n"
      "                     [--preserve] [--keep-structure] [--update] [--json]\n"
      "                     --output ORDNER DATEI|ORDNER...\n"
      "  orvel-cli optimize [--profile SCHLÜSSEL|0-5] [--mode 0-2] [--jobs N]\n"
      "                     [--json] --replace DATEI|ORDNER...\n"
      "  orvel-cli status\n"
      "  orvel-cli analyze REFERENZ TEST\n"
      "  orvel-cli bench VERZEICHNIS [--per-folder N] [--total N] [--depth 0-2]\n"
      "                  [--shard K/N]\n"
      "  orvel-cli bench --resume\n"
      "  orvel-cli bench --merge LAUFORDNER...\n"
      "  orvel-cli --help\n"
      "  orvel-cli --version\n"
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
      "            (Voreinstellung: ein Bild je Prozessor-Thread, in jedem\n"
      "            Rechenmodus); Ergebnisse und Ausgabedateien sind dieselben wie\n"
      "            mit --jobs 1. Strg+C bricht den Stapel ab: laufende Bilder werden\n"
      "            gestoppt und als Fehler gezählt, frühere Ausgabedateien bleiben\n"
      "            unverändert. Ein Ordnerdurchlauf betritt einen darin liegenden\n"
      "            Ausgabeordner nie.\n"
      "            --keep-structure legt jedes Bild aus einem angegebenen Ordner im\n"
      "            gleichnamigen Unterordner des Ausgabeordners ab (Unterordner werden\n"
      "            angelegt, Verknüpfungen nie verfolgt); einzeln genannte Dateien\n"
      "            landen direkt im Ausgabeordner.\n"
      "            --update überspringt ein Bild, dessen Ausgabedatei besteht und\n"
      "            nicht älter als das Quellbild ist (\u201eAusgabe ist aktuell \u2013\n"
      "            übersprungen\u201c); dabei wird nichts gelöscht.\n"
      "            --json schreibt statt der Ergebniszeilen je Bild ein JSON-Objekt\n"
      "            in eine Zeile und am Ende {\"summary\": {...}}; ungültiges UTF-8 in\n"
      "            Dateinamen wird durch U+FFFD ersetzt. Fehler erscheinen weiter auf\n"
      "            der Standardfehlerausgabe.\n"
      "            --preserve gibt jeder Ausgabedatei Änderungs- und Zugriffszeit und\n"
      "            Zugriffsrechte der Quelle (nie weiter als die der Quelle und die\n"
      "            umask erlauben); Eigentümer bleibt der aufrufende Benutzer.\n"
      "            --replace (statt --output) schreibt jedes optimierte Bild über seine\n"
      "            Quelle; das Original kommt in den Papierkorb (freedesktop.org, von\n"
      "            dort wiederherstellbar). Die neue Datei behält Zeiten, Zugriffsrechte\n"
      "            und, wo erlaubt, den Eigentümer. Ohne nutzbaren Papierkorb auf dem\n"
      "            Dateisystem der Quelle bleibt das Original unverändert.\n"
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
      "  2    falscher Aufruf (auch --replace mit --output), keine Bilder oder kein\n"
      "       gültiger Ausgabeordner\n"
      "  130  durch Strg+C abgebrochen (143 bei SIGTERM)\n";
  return text;
}

std::string BenchUsageText() {
  return "  orvel-cli bench VERZEICHNIS [--per-folder N] [--total N] [--depth 0-2] [--shard K/N]\n"
         "  orvel-cli bench --resume\n"
         "  orvel-cli bench --merge LAUFORDNER...\n"
         "            Profilentwicklung: ausgewogene Stichprobe (je Unterverzeichnis\n"
         "            höchstens N, Voreinstellung 5; insgesamt höchstens N, Voreinstellung\n"
         "            5000), jedes Bild mit dem Kandidatenraster der Testtiefe\n"
         "            (0 Kompakt, 1 Standard, 2 Tiefenanalyse) gemessen. Strg+C bricht vor\n"
         "            dem nächsten Kandidaten ab; --resume setzt die Sitzung fort. Am Ende\n"
         "            steht der Pfad des Laufordners auf der Standardausgabe.\n"
         "            --shard K/N misst nur Teil K von N der Stichprobe (jedes N-te Bild),\n"
         "            etwa auf N Rechnern, die den Bildbestand unter demselben Pfad sehen;\n"
         "            jeder Teil bekommt einen eigenen Laufordner. --merge fasst die\n"
         "            abgeschlossenen Laufordner aller N Teile in einem neuen Laufordner zu\n"
         "            einer Zusammenfassung und einem Manifest zusammen; die Teile bleiben\n"
         "            unverändert. Teile verschiedener Stichproben, Testtiefen oder\n"
         "            Kandidatenraster werden abgelehnt.\n";
}
