// Text at the boundary between widgets (Unicode) and the engine (single-byte text in the
// program's code page).
#pragma once

#include <QString>
#include <string>

namespace fieldsmith::app {

//! The program's code page for the conversions below (Windows-1252 until set).
void setProgramCodePage(int codePage);
std::string toEngine(const QString& text);
QString fromEngine(const std::string& text);

} // namespace fieldsmith::app
