// Text at the boundary between widgets (Unicode) and the engine: values are single-byte
// text in the program's code page; names of files, directories and tables stay as the file
// system spells them.
#pragma once

#include <QString>
#include <string>

namespace fieldsmith::app {

//! The program's code page for the conversions below (Windows-1252 until set).
void setProgramCodePage(int codePage);
std::string toEngine(const QString& text);
QString fromEngine(const std::string& text);
//! A table name, file name or path as the file system has it (UTF-8 on Linux).
std::string toFileName(const QString& text);
QString fromFileName(const std::string& name);

} // namespace fieldsmith::app
