#include "app/TextCodec.h"

#include "engine/CodePage.h"

namespace fieldsmith::app {

namespace {
int gCodePage = 1252;
}

void setProgramCodePage(int codePage) {
    gCodePage = codePage;
}

std::string toEngine(const QString& text) {
    return engine::fromUtf8(text.toStdString(), gCodePage);
}

QString fromEngine(const std::string& text) {
    return QString::fromStdString(engine::toUtf8(text, gCodePage));
}

std::string toFileName(const QString& text) {
    return text.toStdString();
}

QString fromFileName(const std::string& name) {
    return QString::fromStdString(name);
}

} // namespace fieldsmith::app
