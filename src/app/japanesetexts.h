// Qt's own texts (the file dialog, the text fields' context menus, standard buttons) in
// Japanese, from Qt's translation of itself (Debian: qt6-translations-l10n).
#pragma once

class QCoreApplication;

// Installs the translation for the rest of the run; false when it is not installed on this
// machine (the texts then stay Qt's English).
bool InstallQtJapanese(QCoreApplication* app);
