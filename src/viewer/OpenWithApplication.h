// Opening a script or log file with its application: the desktop's default application
// for the file's MIME type, else the program registered for its extension in
// extensions.ini, which the user may register on the spot.
#pragma once

#include "app/run/RunHost.h"

#include <QString>

class QWidget;
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fieldsmith::viewer {

//! What OpenWithApplication needs from the window; tests replace each part.
struct OpenWithHost {
    //! A message box of the window; true for Yes.
    std::function<bool(run::MessageKind, const QString&)> message;
    //! Shows TRegFileForm with this prompt; the program path after OK, nothing otherwise.
    std::function<std::optional<QString>(const QString& prompt)> askProgram;
    //! Starts a program with arguments in a working directory (startProgram).
    std::function<int(const std::string&, const std::vector<std::string>&, const std::string&)>
        start;
    //! The configuration directory that holds extensions.ini.
    QString configDir;
};

//! Opens the file with its application, reporting everything itself. The file's name is
//! passed to the program as one argument, whatever characters it holds.
void OpenWithApplication(const QString& file, const OpenWithHost& host);

//! The host of the window: its message boxes, TRegFileForm, startProgram.
OpenWithHost windowOpenWithHost(QWidget* parent,
                                std::function<bool(run::MessageKind, const QString&)> message,
                                const QString& configDir);

} // namespace fieldsmith::viewer
