// U_translations: Qt's own texts in the interface language.
//
// The program's captions are Chinese, but the buttons of standard message
// boxes (Yes/No/Cancel), the file and folder dialogs and the context menus
// of text boxes come from Qt itself. Qt ships their Chinese translations
// (Debian: qt6-translations-l10n); this loads them for the interface
// language, whatever the system locale is, so a dialog does not switch
// language half-way.
#pragma once

class QCoreApplication;

namespace corvane {

// Installs the translator for Qt's own texts; false when the translation
// files are not installed (the English texts stay).
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace corvane
