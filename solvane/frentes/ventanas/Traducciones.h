// Qt's own texts (standard buttons and dialogs) in the user's language.
#pragma once

#include <QLocale>

class QCoreApplication;

namespace solvane {

// Installs on `app` Qt's translations for `idioma`, from Qt's translations folder (Debian package
// qt6-translations-l10n). False when that folder has none for the language: Qt's English texts stay.
bool CargarTraduccionesQt(QCoreApplication& app, const QLocale& idioma = QLocale::system());

}  // namespace solvane
