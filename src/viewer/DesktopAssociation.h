// The system's file associations on Linux, as the freedesktop standards lay them
// down: the default application of a MIME type from the mimeapps.list files (what
// `xdg-mime query default` answers), the desktop entry's command line for a file, and the
// program's own extension list (extensions.ini) for extensions that have none.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fieldsmith::viewer {

//! The desktop file id ("org.gnome.gedit.desktop") of the default application for the
//! first of the MIME types that has an installed one; the types go from the file's own to
//! its more general ones. Reads XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME,
//! XDG_DATA_DIRS and XDG_CURRENT_DESKTOP as freedesktop's MIME-apps rules say.
std::optional<std::string> defaultApplication(const std::vector<std::string>& mimeTypes);

//! Where a desktop file id is installed, in the data directories' applications folders.
std::optional<std::filesystem::path> findDesktopFile(const std::string& desktopId);

//! How a desktop entry runs a file: the program and its arguments (the file in place of
//! the Exec key's field code, or appended when there is none) and the entry's working
//! directory. Nothing when the entry has no usable Exec key.
struct DesktopCommand {
    std::vector<std::string> argv;
    std::string workingDirectory;
};
std::optional<DesktopCommand> desktopCommand(const std::filesystem::path& desktopFile,
                                             const std::string& file);

//! The words of an Exec value with its quoting and escapes undone; field codes stay.
std::vector<std::string> splitExec(const std::string& exec);

// --- extensions.ini: [Extensions] .sql=/path/to/program ^.sql

//! The entry of an extension (".sql"), empty when there is none.
std::string readExtensionEntry(const std::filesystem::path& iniFile, const std::string& extension);
//! Writes an extension's entry, keeping every other line of the file (made with its
//! directory when missing). Throws
//! std::runtime_error naming the file when it cannot be written.
void writeExtensionEntry(const std::filesystem::path& iniFile, const std::string& extension,
                         const std::string& entry);

//! The program file and working directory of an entry: the path ends at the entry's last
//! blank; with a "/" in it, the program is the name after the last "/" and the directory
//! what stands before it, else the program is the whole path and there is no directory.
struct EntryProgram {
    std::string program, directory;
};
EntryProgram splitExtensionEntry(const std::string& entry);

//! The extension of a file name: from its last dot on, unless a "/" follows that dot.
std::optional<std::string> fileExtension(const std::string& fileName);

} // namespace fieldsmith::viewer
