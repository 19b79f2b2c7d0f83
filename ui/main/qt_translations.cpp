// Qt's German catalogue; see qt_translations.h. Neighbours: application.cpp
// (the caller), fonts.cpp (the other start-up resource of every window).
#include "ui/main/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace {

std::unique_ptr<QTranslator>& Catalogue() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

}  // namespace

bool InstallQtGermanTranslations() {
  // Dates and sizes in the file dialog follow the dialog's language. The
  // program's own numbers are formatted without the locale.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  if (Catalogue()) return true;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_de"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  QCoreApplication::installTranslator(translator.get());
  Catalogue() = std::move(translator);
  return true;
}

void RemoveQtGermanTranslations() {
  if (!Catalogue()) return;
  QCoreApplication::removeTranslator(Catalogue().get());
  Catalogue().reset();
}
