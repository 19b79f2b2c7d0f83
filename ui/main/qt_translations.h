// Qt's own German texts: the buttons of message boxes and the labels of Qt's
// file and folder dialogs ("Abbrechen", "Suchen in", ...), so no English
// shows inside the German program.
//
// Loaded once at start-up (application.cpp) after the QApplication exists,
// from Qt's translation folder (Debian: qt6-translations-l10n). A missing
// catalogue leaves Qt's English texts; the program starts anyway.
#pragma once

// Installs the German catalogue of Qt's base module and makes German the
// default locale of Qt's widgets. True when the catalogue was found.
bool InstallQtGermanTranslations();

// Removes the catalogue again (shutdown, before the QApplication goes).
void RemoveQtGermanTranslations();
