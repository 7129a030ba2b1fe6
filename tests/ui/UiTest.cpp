// The auxiliary controls and dialogs: the Enter-key edit box, the language code, the file
// picker's drives and result, the status dialog and the log window.
#include "ui/DateiWahl.h"
#include "ui/EnterEdit.h"
#include "ui/LanguageCode.h"
#include "ui/StatusDlg.h"
#include "ui/ZipMsgForm.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace fieldsmith::ui {
namespace {

TEST(EnterEdit, EnterAndArrowsMoveTheFocusInTabOrder) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new QLineEdit(&window);
    auto* middle = new TEnterEdit(&window);
    auto* last = new QLineEdit(&window);
    for (QWidget* w :
         {static_cast<QWidget*>(first), static_cast<QWidget*>(middle), static_cast<QWidget*>(last)})
        layout->addWidget(w);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    struct Case {
        Qt::Key key;
        QWidget* focus;
    };
    for (const Case& c : {Case{Qt::Key_Return, last}, Case{Qt::Key_Enter, last},
                          Case{Qt::Key_Down, last}, Case{Qt::Key_Up, first}}) {
        middle->setFocus();
        ASSERT_TRUE(middle->hasFocus());
        QTest::keyClick(middle, c.key);
        EXPECT_EQ(QApplication::focusWidget(), c.focus) << "key " << c.key;
    }
    EXPECT_EQ(middle->text(), "") << "the keys never reach the box";
    middle->setFocus();
    QTest::keyClicks(middle, "ab");
    EXPECT_EQ(middle->text(), "ab");
    EXPECT_TRUE(middle->hasFocus());
}

TEST(LanguageCode, GermanLocalesGiveDeu) {
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE", "deu"}, {"de_CH", "deu"}, {"de_AT", "deu"}, {"de", "deu"},
        {"fr_FR", "eng"}, {"en_US", "eng"}, {"C", "eng"},     {"", "eng"},
    };
    for (const auto& [locale, code] : cases)
        EXPECT_EQ(languageCodeFor(locale), code) << locale;
}

TEST(DateiWahl, DrivesAreTheRootAndMountedVolumes) {
    const QString mounts = "proc /proc proc rw 0 0\n"
                           "/dev/sda1 / ext4 rw 0 0\n"
                           "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
                           "tmpfs /run tmpfs rw 0 0\n"
                           "sysfs /sys sysfs rw 0 0\n"
                           "server:/export /mnt/share nfs rw 0 0\n"
                           "tmpfs /tmp tmpfs rw 0 0\n";
    EXPECT_EQ(TDateiWahl::mountPoints(mounts),
              (QStringList{"/", "/media/usb stick", "/mnt/share", "/tmp"}));
    EXPECT_EQ(TDateiWahl::mountPoints(""), QStringList{"/"});
}

TEST(DateiWahl, ResultJoinsDirectoryAndFileName) {
    TDateiWahl picker;
    picker.setDirectory("/");
    picker.findChild<QLineEdit*>("FileEdit")->setText("x.sql");
    EXPECT_EQ(picker.resultPath(), "/x.sql");
    picker.setDirectory(QDir::tempPath());
    EXPECT_EQ(picker.resultPath(), QDir::cleanPath(QDir::tempPath()) + "/x.sql");
    EXPECT_EQ(picker.findChild<QLabel*>("PathLabel")->text(), QDir::cleanPath(QDir::tempPath()));
}

TEST(DateiWahl, MaskFillsTheFileNameBox) {
    TDateiWahl picker;
    picker.setFileMask("*.csv");
    EXPECT_EQ(picker.fileEditText(), "*.csv");
    EXPECT_EQ(picker.windowTitle(), "Datei-Auswahl");
    if (GetLanguageCode() != "deu") {
        EXPECT_EQ(picker.findChild<QPushButton*>("OKBtn")->text(), "  &OK");
        EXPECT_EQ(picker.findChild<QPushButton*>("AbbruchBtn")->text(), " &Cancel");
    }
}

TEST(StatusDlg, ScalesAboveNinetySixDotsPerInch) {
    EXPECT_EQ(TStatusDlg::scaledSize({300, 130}, 96), QSize(300, 130));
    EXPECT_EQ(TStatusDlg::scaledSize({300, 130}, 72), QSize(300, 130));
    EXPECT_EQ(TStatusDlg::scaledSize({300, 128}, 120), QSize(375, 160));
}

TEST(StatusDlg, CancelButtonSetsItsOwnFlag) {
    TStatusDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Status");
    EXPECT_FALSE(dlg.cancelled());
    EXPECT_TRUE(dlg.findChild<QLabel*>("DateiLAbel")->isHidden());
    EXPECT_EQ(dlg.findChild<QLabel*>("CountLabel")->text(), "0 of 0");
    dlg.findChild<QPushButton*>("CancelBtn")->click();
    EXPECT_TRUE(dlg.cancelled());
    dlg.clearCancel();
    EXPECT_FALSE(dlg.cancelled());
    dlg.setCount("3 of 10 records  ");
    EXPECT_EQ(dlg.findChild<QLabel*>("CountLabel")->text(), "3 of 10 records  ");
}

TEST(ZipMsgForm, KeepsItsLogLines) {
    TZipMsgForm form;
    EXPECT_EQ(form.windowTitle(), "ZIP / UnZIP Status");
    EXPECT_TRUE(form.lines().isEmpty());
    form.appendLine("first");
    form.appendLine("second");
    EXPECT_EQ(form.lines(), (QStringList{"first", "second"}));
    form.clearLog();
    EXPECT_TRUE(form.lines().isEmpty());
}

} // namespace
} // namespace fieldsmith::ui

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
