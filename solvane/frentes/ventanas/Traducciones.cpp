// Qt's own translations, loaded once at start.
#include "Traducciones.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace solvane {

bool CargarTraduccionesQt(QCoreApplication& app, const QLocale& idioma) {
  auto* traductor = new QTranslator(&app);
  if (!traductor->load(idioma, QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(traductor)) {
    delete traductor;
    return false;
  }
  return true;
}

}  // namespace solvane
