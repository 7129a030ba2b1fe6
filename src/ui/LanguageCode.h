// The language code that decides the file picker's texts: "deu" for German, else "eng".
#pragma once

#include <QString>

namespace fieldsmith::ui {

//! "deu" for a German locale name (de, de_DE, de_CH, de_AT, ...), "eng" for any other.
QString languageCodeFor(const QString& localeName);
//! The code of the user's locale.
QString GetLanguageCode();

} // namespace fieldsmith::ui
