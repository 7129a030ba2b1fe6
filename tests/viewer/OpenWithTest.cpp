// Opening a script or log file with its application: the desktop's default application
// of the file's MIME type, the program's own extension list with its registration, the
// messages of a start that fails, and file names that must reach the program untouched.
#include "viewer/DesktopAssociation.h"
#include "viewer/OpenWithApplication.h"
#include "viewer/ProgramStart.h"

#include "support/TempDir.h"
#include "ui/RegFileForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QThread>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace fieldsmith::viewer {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& file, const std::string& bytes, bool executable = false) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    if (executable) ::chmod(file.c_str(), 0755);
}

// Waits until a program started in the background has written its file.
std::string awaitFile(const fs::path& file) {
    for (int i = 0; i < 500 && !fs::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return readFile(file);
}

TEST(DesktopAssociation, ExtensionEntriesSplitAtTheirLastBlank) {
    struct Case {
        const char *entry, *program, *directory;
    } cases[] = {
        {"/opt/tools/edit/edit ^.sql", "edit", "/opt/tools/edit"},
        {"/opt/Program Files/Ed/ed ^.log", "ed", "/opt/Program Files/Ed"},
        {"notepad ^.txt", "notepad", ""},
        {"/ed ^.txt", "ed", "/"},
    };
    for (const auto& c : cases) {
        const EntryProgram p = splitExtensionEntry(c.entry);
        EXPECT_EQ(p.program, c.program) << c.entry;
        EXPECT_EQ(p.directory, c.directory) << c.entry;
    }
}

TEST(DesktopAssociation, ExtensionIsFromTheLastDotOfTheFileName) {
    EXPECT_EQ(fileExtension("/tmp/EMP_140509_INSERTS.SQL_import.log"), ".log");
    EXPECT_EQ(fileExtension("/tmp/EMP.sql"), ".sql");
    EXPECT_EQ(fileExtension("/tmp/noext"), std::nullopt);
    EXPECT_EQ(fileExtension("/tmp/dir.d/file"), std::nullopt);
}

TEST(DesktopAssociation, ExecValuesSplitWithTheirQuotingUndone) {
    EXPECT_EQ(splitExec(R"("/opt/my editor/ed" --new %f)"),
              (std::vector<std::string>{"/opt/my editor/ed", "--new", "%f"}));
    // The file's own escapes first (\\ for a backslash), then the quoting's.
    EXPECT_EQ(splitExec(R"(ed "say \\"hi\\"" "a\sb" c\sd)"),
              (std::vector<std::string>{"ed", "say \"hi\"", "a b", "c", "d"}));
    EXPECT_EQ(splitExec("  ed   %U  "), (std::vector<std::string>{"ed", "%U"}));
}

TEST(DesktopAssociation, ExtensionsIniKeepsItsOtherLines) {
    test::TempDir dir;
    const fs::path ini = dir / "extensions.ini";
    writeFile(ini, "; mine\n[Other]\n.sql=keep\n[Extensions]\n.txt=/bin/ed ^.txt\n");
    EXPECT_EQ(readExtensionEntry(ini, ".sql"), "") << "only the Extensions section counts";
    writeExtensionEntry(ini, ".sql", "/opt/x ^.sql");
    writeExtensionEntry(ini, ".txt", "/opt/y ^.txt");
    EXPECT_EQ(readExtensionEntry(ini, ".sql"), "/opt/x ^.sql");
    EXPECT_EQ(readExtensionEntry(ini, ".txt"), "/opt/y ^.txt");
    EXPECT_EQ(readFile(ini),
              "; mine\n[Other]\n.sql=keep\n[Extensions]\n.txt=/opt/y ^.txt\n.sql=/opt/x ^.sql\n");
}

TEST(ProgramStart, ResultCodesOfProgramsThatCannotRun) {
    test::TempDir dir;
    writeFile(dir / "plain.txt", "not a program");
    writeFile(dir / "garbage", "\x7f\x45\x4c\x46garbage", true);
    EXPECT_EQ(startProgram((dir / "missing").string(), {}, ""), kStartFileNotFound);
    EXPECT_EQ(startProgram("fieldsmith-no-such-program", {}, ""), kStartFileNotFound);
    EXPECT_EQ(startProgram((dir / "plain.txt").string(), {}, ""), kStartAccessDenied);
    EXPECT_EQ(startProgram((dir / "garbage").string(), {}, ""), kStartBadFormat);
    EXPECT_EQ(startProgram("/bin/true", {}, (dir / "nowhere").string()), kStartPathNotFound);
    EXPECT_GT(startProgram("/bin/true", {}, dir.path().string()), 32);
}

// A desktop with its own XDG directories: a recorder program that writes each argument it
// gets on a line of its own, into args.txt of its working directory.
class OpenWith : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop = new test::TempDir;
        setenv("XDG_CONFIG_HOME", (*desktop / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (*desktop / "etc").c_str(), 1);
        setenv("XDG_DATA_HOME", (*desktop / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (*desktop / "share").c_str(), 1);
        // The system's MIME database, without the system's applications.
        fs::create_directories(*desktop / "share");
        fs::create_directory_symlink("/usr/share/mime", *desktop / "share/mime");
        unsetenv("XDG_CURRENT_DESKTOP");
    }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
    }

    OpenWith() {
        fs::remove_all(*desktop / "config");
        fs::remove_all(*desktop / "data");
        writeFile(recorder,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\n", true);
        host.message = [this](run::MessageKind kind, const QString& text) {
            shown.push_back({kind, text});
            return answer;
        };
        host.askProgram = [this](const QString& prompt) -> std::optional<QString> {
            prompts.push_back(prompt);
            return program;
        };
        host.start = startProgram;
        host.configDir = QString::fromStdString((dir / "fieldsmith").string());
    }

    void associate(const fs::path& file) {
        const std::string type =
            QMimeDatabase().mimeTypeForFile(QString::fromStdString(file)).name().toStdString();
        writeFile(*desktop / "config/mimeapps.list",
                  "[Default Applications]\n" + type + "=missing.desktop;recorder.desktop;\n");
        writeFile(*desktop / "data/applications/recorder.desktop",
                  "[Desktop Entry]\nType=Application\nName=Recorder\nExec=\"" + recorder.string() +
                      "\" --from-desktop %f\nPath=" + work.string() + "\n");
    }

    static inline test::TempDir* desktop = nullptr;
    test::TempDir dir;
    fs::path recorder = dir / "bin/recorder";
    fs::path work = dir / "work";
    OpenWithHost host;
    struct Shown {
        run::MessageKind kind;
        QString text;
    };
    std::vector<Shown> shown;
    bool answer = true;
    std::optional<QString> program;
    QStringList prompts;
};

TEST_F(OpenWith, DesktopDefaultApplicationGetsTheFileAsOneArgumentAndNothingElseRuns) {
    fs::create_directories(work);
    const fs::path file = dir / "it's a \"quoted\" name; touch PWNED; $(touch PWNED2).log";
    writeFile(file, "log\n");
    associate(file);
    OpenWithApplication(QString::fromStdString(file.string()), host);
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(awaitFile(work / "args.txt"), "--from-desktop\n" + file.string() + "\n");
    EXPECT_FALSE(fs::exists(work / "PWNED"));
    EXPECT_FALSE(fs::exists(work / "PWNED2"));
    EXPECT_TRUE(prompts.empty()) << "no registration is asked for";
}

TEST_F(OpenWith, WithoutAnAssociationTheUserRegistersAProgram) {
    const fs::path file = dir / "data file.fsxyz";
    writeFile(file, std::string("\0\1\2", 3));
    program = QString::fromStdString(recorder.string());
    OpenWithApplication(QString::fromStdString(file.string()), host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, run::MessageKind::Confirmation);
    EXPECT_EQ(shown[0].text, QStringLiteral("Datei-Namenserweiterung \".fsxyz\" nicht registriert!"
                                            "\rMöchten Sie die Anwendung zu der Datei jetzt "
                                            "registrieren?"));
    EXPECT_EQ(prompts, QStringList{QStringLiteral(
                           "Geben Sie den Programm-Namen für die Erweiterung an:  \".fsxyz\"")});
    const fs::path ini = dir / "fieldsmith/extensions.ini";
    EXPECT_EQ(readExtensionEntry(ini, ".fsxyz"), recorder.string() + " ^.fsxyz");
    // Started in the entry's directory with the file as its only argument.
    EXPECT_EQ(awaitFile(recorder.parent_path() / "args.txt"), file.string() + "\n");

    // The next time the registered program starts without a question.
    fs::remove(recorder.parent_path() / "args.txt");
    shown.clear();
    prompts.clear();
    OpenWithApplication(QString::fromStdString(file.string()), host);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(prompts.empty());
    EXPECT_EQ(awaitFile(recorder.parent_path() / "args.txt"), file.string() + "\n");
}

TEST_F(OpenWith, MessagesEndTheActionBeforeAnythingStarts) {
    const fs::path file = dir / "x.fsxyz";
    writeFile(file, std::string("\0", 1));
    writeFile(dir / "noext", "x");
    struct Case {
        const char* what;
        fs::path file;
        bool answer;
        std::optional<QString> program;
        QString last;
    } cases[] = {
        {"missing file", dir / "missing.sql", true, std::nullopt,
         QStringLiteral("Datei existiert nicht!")},
        {"no extension", dir / "noext", true, std::nullopt,
         QStringLiteral("keine gültige Dateinamens-Erweiterung angegeben!")},
        {"program that does not exist", file, true, QStringLiteral("/no/such/editor"),
         QStringLiteral("Anwendung \"/no/such/editor\" existiert nicht!")},
        {"No to the registration", file, false, std::nullopt, QString()},
    };
    for (const auto& c : cases) {
        shown.clear();
        answer = c.answer;
        program = c.program;
        OpenWithApplication(QString::fromStdString(c.file.string()), host);
        ASSERT_FALSE(shown.empty()) << c.what;
        if (!c.last.isEmpty()) {
            EXPECT_EQ(shown.back().text, c.last) << c.what;
        }
        EXPECT_FALSE(fs::exists(dir / "fieldsmith/extensions.ini")) << c.what;
    }
    EXPECT_TRUE(prompts.size() == 1u) << "the dialog only after Yes";
}

TEST_F(OpenWith, ARegisteredProgramThatIsGoneIsReportedWithItsPath) {
    const fs::path file = dir / "x.fsxyz";
    writeFile(file, std::string("\0", 1));
    writeExtensionEntry(dir / "fieldsmith/extensions.ini", ".fsxyz",
                        dir.path().string() + "/gone ^.fsxyz");
    OpenWithApplication(QString::fromStdString(file.string()), host);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, run::MessageKind::Error);
    EXPECT_EQ(shown[0].text.toStdString(), "Datei nicht gefunden! \"" + file.string() + "\"\r\"" +
                                               dir.path().string() + "/gone\"");
}

TEST(RegFileForm, HasItsTextsAndClosesWithOkOrCancel) {
    ui::TRegFileForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Dateiname der Anwendung"));
    auto* label2 = form.findChild<QLabel*>(QStringLiteral("Label2"));
    ASSERT_NE(label2, nullptr);
    EXPECT_EQ(label2->text(), QStringLiteral("einschliesslich der Verzeichnis-Angabe an:"));
    form.setPrompt(QStringLiteral("prompt"));
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("prompt"));
    for (const char* name : {"DirBtn", "CancelBtn", "DeleteBtn"})
        EXPECT_NE(form.findChild<QToolButton*>(QLatin1String(name)), nullptr) << name;
    form.findChild<QLineEdit*>(QStringLiteral("AnwendungEdit"))->setText(QStringLiteral("/bin/ed"));
    form.findChild<QToolButton*>(QStringLiteral("DeleteBtn"))->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.program(), QStringLiteral("/bin/ed"));
    form.findChild<QToolButton*>(QStringLiteral("CancelBtn"))->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

} // namespace
} // namespace fieldsmith::viewer
