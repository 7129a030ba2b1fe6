// Helpers of the window tests: a window over a session with temporary aliases, scripted
// dialogs, and access to its widgets by component name.
#pragma once

#include "AppTestSupport.h"
#include "app/DialogService.h"
#include "app/FieldsmithForm.h"
#include "app/PickerBox.h"
#include "engine/Session.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <gtest/gtest.h>
#include <memory>

namespace fieldsmith::apptest {

class WindowTest : public ::testing::Test {
protected:
    //! Aliases: ARBEIT and LAGER (directories with tables), ORASRV (server with a server
    //! name) and NOSERVER (server without one).
    WindowTest();
    ~WindowTest() override;

    //! Creates the window with these command-line arguments.
    app::TFieldsmithForm& window(const QStringList& arguments = {});

    template <class T = QWidget> T* find(const char* name) {
        T* w = form_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << "no widget " << name;
        return w;
    }
    app::TPickerBox* box(const char* name) { return find<app::TPickerBox>(name); }
    QStringList entries(const char* boxName);
    //! Opens a picker's list (runs its filling rule) and closes it again.
    void open(const char* boxName);
    //! Opens a picker and picks an entry from its list, as the user does.
    void pick(const char* boxName, const QString& entry);
    //! Types text into an editable picker, letter by letter.
    void type(const char* boxName, const QString& text);
    //! The user selects a page by its tab.
    void selectTab(const char* page);
    QString currentPage();
    QString panelText(int panel);

    TempDir arbeit, lager;
    engine::Session session;
    app::ScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<app::TFieldsmithForm> form_;
};

} // namespace fieldsmith::apptest
