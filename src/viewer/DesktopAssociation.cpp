#include "viewer/DesktopAssociation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace fieldsmith::viewer {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

fs::path home() {
    return fs::path(env("HOME"));
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(separator, pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) parts.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

fs::path configHome() {
    const std::string v = env("XDG_CONFIG_HOME");
    return v.empty() ? home() / ".config" : fs::path(v);
}

std::vector<fs::path> configDirs() {
    std::vector<fs::path> dirs;
    const std::string v = env("XDG_CONFIG_DIRS");
    for (const auto& d : splitList(v.empty() ? "/etc/xdg" : v, ':'))
        dirs.emplace_back(d);
    return dirs;
}

fs::path dataHome() {
    const std::string v = env("XDG_DATA_HOME");
    return v.empty() ? home() / ".local/share" : fs::path(v);
}

std::vector<fs::path> dataDirs() {
    std::vector<fs::path> dirs;
    const std::string v = env("XDG_DATA_DIRS");
    for (const auto& d : splitList(v.empty() ? "/usr/local/share:/usr/share" : v, ':'))
        dirs.emplace_back(d);
    return dirs;
}

// The applications folders, most important first.
std::vector<fs::path> applicationDirs() {
    std::vector<fs::path> dirs{dataHome() / "applications"};
    for (const auto& d : dataDirs())
        dirs.push_back(d / "applications");
    return dirs;
}

// The mimeapps.list files in the freedesktop lookup order, desktop-specific ones
// before the general one in each directory.
std::vector<fs::path> mimeappsLists() {
    std::vector<std::string> desktops;
    for (const auto& d : splitList(env("XDG_CURRENT_DESKTOP"), ':')) {
        std::string lower = d;
        for (auto& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        desktops.push_back(lower);
    }
    std::vector<fs::path> dirs{configHome()};
    for (const auto& d : configDirs())
        dirs.push_back(d);
    for (const auto& d : applicationDirs())
        dirs.push_back(d);
    std::vector<fs::path> files;
    for (const auto& dir : dirs) {
        for (const auto& desktop : desktops)
            files.push_back(dir / (desktop + "-mimeapps.list"));
        files.push_back(dir / "mimeapps.list");
    }
    return files;
}

// The values of a key in a section of a desktop-style file, split at ";".
std::vector<std::string> listValue(const fs::path& file, const std::string& section,
                                   const std::string& key) {
    std::ifstream in(file);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inSection = line == "[" + section + "]";
            continue;
        }
        if (!inSection) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos || trim(line.substr(0, eq)) != key) continue;
        return splitList(trim(line.substr(eq + 1)), ';');
    }
    return {};
}

// A key of the [Desktop Entry] group, unlocalised.
std::string desktopKey(const fs::path& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq != std::string::npos && trim(line.substr(0, eq)) == key) {
            std::string value = line.substr(eq + 1);
            while (!value.empty() && (value[0] == ' ' || value[0] == '\t'))
                value.erase(0, 1);
            return value;
        }
    }
    return {};
}

// The string escapes of a desktop entry value: \s \n \t \r \\ .
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

} // namespace

std::optional<fs::path> findDesktopFile(const std::string& desktopId) {
    for (const auto& dir : applicationDirs()) {
        if (fs::is_regular_file(dir / desktopId)) return dir / desktopId;
        // "vendor-app.desktop" may live as vendor/app.desktop.
        std::string relative = desktopId;
        for (std::size_t p = relative.find('-'); p != std::string::npos;
             p = relative.find('-', p + 1)) {
            relative[p] = '/';
            if (fs::is_regular_file(dir / relative)) return dir / relative;
        }
    }
    return std::nullopt;
}

std::optional<std::string> defaultApplication(const std::vector<std::string>& mimeTypes) {
    const auto lists = mimeappsLists();
    for (const auto& type : mimeTypes) {
        // An explicit default wins; then associations added by the user; then what the
        // installed applications declare (the caches of the applications folders).
        for (const char* section : {"Default Applications", "Added Associations"})
            for (const auto& list : lists)
                for (const auto& id : listValue(list, section, type))
                    if (findDesktopFile(id)) return id;
        for (const auto& dir : applicationDirs())
            for (const auto& id : listValue(dir / "mimeinfo.cache", "MIME Cache", type))
                if (findDesktopFile(id)) return id;
    }
    return std::nullopt;
}

std::vector<std::string> splitExec(const std::string& exec) {
    const std::string value = unescapeValue(exec);
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < value.size() && std::strchr("\"`$\\", value[i + 1])) {
                word += value[++i];
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::optional<DesktopCommand> desktopCommand(const fs::path& desktopFile, const std::string& file) {
    const std::vector<std::string> words = splitExec(desktopKey(desktopFile, "Exec"));
    if (words.empty()) return std::nullopt;
    DesktopCommand command;
    bool fileGiven = false;
    for (const auto& w : words) {
        if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
            command.argv.push_back(file);
            fileGiven = true;
            continue;
        }
        if (w == "%i") {
            if (const std::string icon = desktopKey(desktopFile, "Icon"); !icon.empty()) {
                command.argv.push_back("--icon");
                command.argv.push_back(icon);
            }
            continue;
        }
        // Other field codes inside a word: %c the name, %k the entry's file, %% a percent;
        // deprecated ones vanish.
        std::string out;
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (w[i] != '%' || i + 1 == w.size()) {
                out += w[i];
                continue;
            }
            const char code = w[++i];
            if (code == '%')
                out += '%';
            else if (code == 'c')
                out += desktopKey(desktopFile, "Name");
            else if (code == 'k')
                out += desktopFile.string();
            else if (code == 'f' || code == 'u' || code == 'F' || code == 'U')
                out += file, fileGiven = true;
        }
        if (!out.empty() || command.argv.empty()) command.argv.push_back(out);
    }
    if (!fileGiven) command.argv.push_back(file);
    command.workingDirectory = desktopKey(desktopFile, "Path");
    return command;
}

// --- extensions.ini

namespace {

constexpr const char* kSection = "[Extensions]";

} // namespace

std::string readExtensionEntry(const fs::path& iniFile, const std::string& extension) {
    std::ifstream in(iniFile, std::ios::binary);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string t = trim(line);
        if (!t.empty() && t[0] == '[') {
            inSection = t == kSection;
            continue;
        }
        const auto eq = line.find('=');
        if (!inSection || eq == std::string::npos) continue;
        if (trim(line.substr(0, eq)) == extension) return line.substr(eq + 1);
    }
    return {};
}

void writeExtensionEntry(const fs::path& iniFile, const std::string& extension,
                         const std::string& entry) {
    std::vector<std::string> lines;
    {
        std::ifstream in(iniFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
    }
    const std::string newLine = extension + "=" + entry;
    bool inSection = false, written = false;
    std::size_t sectionEnd = std::string::npos;
    for (std::size_t i = 0; i < lines.size() && !written; ++i) {
        const std::string t = trim(lines[i]);
        if (!t.empty() && t[0] == '[') {
            if (inSection) break;
            inSection = t == kSection;
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (!t.empty()) sectionEnd = i + 1;
        const auto eq = lines[i].find('=');
        if (eq != std::string::npos && trim(lines[i].substr(0, eq)) == extension) {
            lines[i] = newLine;
            written = true;
        }
    }
    if (!written) {
        if (sectionEnd == std::string::npos) {
            lines.push_back(kSection);
            sectionEnd = lines.size();
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), newLine);
    }
    const fs::path part = iniFile.string() + ".part";
    std::error_code made;
    fs::create_directories(iniFile.parent_path(), made);
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        for (const auto& l : lines)
            out << l << '\n';
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(part, ec);
            throw std::runtime_error("Cannot write " + iniFile.string() + ": " +
                                     std::strerror(errno));
        }
    }
    if (std::rename(part.c_str(), iniFile.c_str()) != 0) {
        const int error = errno;
        std::error_code ec;
        fs::remove(part, ec);
        throw std::runtime_error("Cannot write " + iniFile.string() + ": " + std::strerror(error));
    }
}

EntryProgram splitExtensionEntry(const std::string& entry) {
    const auto blank = entry.rfind(' ');
    const std::string path = blank == std::string::npos ? entry : entry.substr(0, blank);
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {path, {}};
    return {path.substr(slash + 1), path.substr(0, slash == 0 ? 1 : slash)};
}

std::optional<std::string> fileExtension(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || fileName.find('/', dot) != std::string::npos)
        return std::nullopt;
    return fileName.substr(dot);
}

} // namespace fieldsmith::viewer
