#include "viewer/OpenWithApplication.h"

#include "app/TextCodec.h"
#include "ui/RegFileForm.h"
#include "viewer/DesktopAssociation.h"
#include "viewer/ProgramStart.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace fieldsmith::viewer {

namespace {

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The MIME types to ask for, the file's own first, then the ones it is a kind of.
std::vector<std::string> mimeTypesOf(const QString& file) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    std::vector<std::string> types;
    if (!type.isValid()) return types;
    types.push_back(type.name().toStdString());
    for (const QString& alias : type.aliases())
        types.push_back(alias.toStdString());
    for (const QString& parent : type.allAncestors())
        types.push_back(parent.toStdString());
    return types;
}

// The messages of a start that did not succeed; codes without a message pass silently.
void reportStart(int code, const QString& file, const QString& program, const QString& directory,
                 const OpenWithHost& host) {
    if (code > 32) return;
    QString text;
    switch (code) {
    case kStartOutOfResources:
        text = QStringLiteral("     Zu wenig Speicher, \\roder: ausführbare Datei fehlerhaft, "
                              "\\roder: Relokationswerte ungültig!");
        break;
    case kStartFileNotFound:
        text = QStringLiteral("Datei nicht gefunden! ") + quoted(file) + QLatin1Char('\r') +
               quoted((directory.isEmpty() ? QString() : directory + QLatin1Char('/')) + program);
        break;
    case kStartPathNotFound:
        text = QStringLiteral("Verzeichnis nicht gefunden! ") + quoted(directory);
        break;
    case kStartAccessDenied:
        text = QStringLiteral("Datei ist im Netzwerk-Zugriff!");
        break;
    case kStartNoMemory:
        text = QStringLiteral("Nicht genügend Speicher!");
        break;
    case kStartBadFormat:
        text = QStringLiteral("Programm ist nicht ausführbar!");
        break;
    default:
        return;
    }
    host.message(run::MessageKind::Error, text);
}

} // namespace

void OpenWithApplication(const QString& F, const OpenWithHost& host) {
    const std::string file = app::toFileName(F);
    if (!QFileInfo::exists(F)) {
        host.message(run::MessageKind::Error, QStringLiteral("Datei existiert nicht!"));
        return;
    }
    const auto extension = fileExtension(file);
    if (!extension) {
        host.message(run::MessageKind::Error,
                     QStringLiteral("keine gültige Dateinamens-Erweiterung angegeben!"));
        return;
    }
    const QString E = app::fromFileName(*extension);

    // The desktop's own association comes first.
    if (const auto id = defaultApplication(mimeTypesOf(F))) {
        if (const auto desktopFile = findDesktopFile(*id)) {
            if (auto command = desktopCommand(*desktopFile, file)) {
                const std::string program = command->argv.front();
                const std::vector<std::string> args(command->argv.begin() + 1, command->argv.end());
                const int code = host.start(program, args, command->workingDirectory);
                reportStart(code, F, app::fromFileName(program),
                            app::fromFileName(command->workingDirectory), host);
                return;
            }
        }
    }

    // Else the program's own list, where the user may register a program now.
    const std::filesystem::path ini =
        std::filesystem::path(app::toFileName(host.configDir)) / "extensions.ini";
    std::string V = readExtensionEntry(ini, *extension);
    if (V.empty()) {
        if (!host.message(run::MessageKind::Confirmation,
                          QStringLiteral("Datei-Namenserweiterung ") + quoted(E) +
                              QStringLiteral(" nicht registriert!\rMöchten Sie die Anwendung zu "
                                             "der Datei jetzt registrieren?")))
            return;
        const auto A = host.askProgram(QStringLiteral("Geben Sie den Programm-Namen für die "
                                                      "Erweiterung an:  ") +
                                       quoted(E));
        if (!A) return;
        if (!QFileInfo(*A).isFile()) {
            host.message(run::MessageKind::Error, QStringLiteral("Anwendung ") + quoted(*A) +
                                                      QStringLiteral(" existiert nicht!"));
            return;
        }
        V = app::toFileName(*A) + " ^" + *extension;
        writeExtensionEntry(ini, *extension, V);
    }
    const EntryProgram entry = splitExtensionEntry(V);
    const std::string program =
        entry.directory.empty()
            ? entry.program
            : (entry.directory == "/" ? "/" : entry.directory + "/") + entry.program;
    const int code = host.start(program, {file}, entry.directory);
    reportStart(code, F, app::fromFileName(entry.program), app::fromFileName(entry.directory),
                host);
}

OpenWithHost windowOpenWithHost(QWidget* parent,
                                std::function<bool(run::MessageKind, const QString&)> message,
                                const QString& configDir) {
    OpenWithHost host;
    host.message = std::move(message);
    host.askProgram = [parent](const QString& prompt) -> std::optional<QString> {
        ui::TRegFileForm form(parent);
        form.setPrompt(prompt);
        if (form.exec() != QDialog::Accepted) return std::nullopt;
        return form.program();
    };
    host.start = startProgram;
    host.configDir = configDir;
    return host;
}

} // namespace fieldsmith::viewer
