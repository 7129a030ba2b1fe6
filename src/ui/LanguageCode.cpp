#include "ui/LanguageCode.h"

#include <QLocale>

namespace fieldsmith::ui {

QString languageCodeFor(const QString& localeName) {
    return QLocale(localeName).language() == QLocale::German ? QStringLiteral("deu")
                                                             : QStringLiteral("eng");
}

QString GetLanguageCode() {
    return languageCodeFor(QLocale::system().name());
}

} // namespace fieldsmith::ui
