#include "GuiTestSupport.h"

#include "app/TabStrip.h"
#include "app/WindowRunHost.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

namespace fieldsmith::apptest {

WindowTest::WindowTest() {
    session.addStandardAlias("ARBEIT", arbeit.path());
    session.addStandardAlias("LAGER", lager.path());
    session.addAlias("ORASRV", {{"TYPE", "ORACLE"}, {"SERVER NAME", "KR4"}});
    session.addAlias("NOSERVER", {{"TYPE", "INTRBASE"}});
    makeTable(session, "ARBEIT", "KUNDEN", {"TAVO", "NAME", "ORT"},
              {{"1", "Berg", "Bonn"}, {"2", "Adler", "Aachen"}}, 2);
    makeTable(session, "ARBEIT", "ARTIKEL", {"NR", "BEZ"}, {{"1", "Schraube"}}, 1);
    makeTable(session, "LAGER", "BESTAND", {"NR", "MENGE"}, {}, 1);
}

WindowTest::~WindowTest() {
    form_.reset();
}

app::TFieldsmithForm& WindowTest::window(const QStringList& arguments) {
    form_ = std::make_unique<app::TFieldsmithForm>(session, arguments);
    auto scripted = std::make_unique<app::ScriptedDialogs>();
    dialogs = scripted.get();
    form_->setDialogService(std::move(scripted));
    return *form_;
}

QStringList WindowTest::entries(const char* boxName) {
    QStringList list;
    auto* b = box(boxName);
    for (int i = 0; b && i < b->count(); ++i)
        list << b->itemText(i);
    return list;
}

void WindowTest::open(const char* boxName) {
    auto* b = box(boxName);
    b->showPopup();
    b->hidePopup();
}

void WindowTest::pick(const char* boxName, const QString& entry) {
    auto* b = box(boxName);
    b->showPopup();
    const int i = b->findText(entry);
    ASSERT_GE(i, 0) << entry.toStdString() << " is not in the list of " << boxName;
    b->setCurrentIndex(i);
    emit b->activated(i);
    b->hidePopup();
}

void WindowTest::type(const char* boxName, const QString& text) {
    auto* b = box(boxName);
    QTest::keyClicks(b->lineEdit(), text);
}

void WindowTest::selectTab(const char* page) {
    auto* strip = form_->findChild<app::TabStrip*>();
    auto* button = strip->findChild<QToolButton*>(QString::fromLatin1(page) + "Tab");
    ASSERT_NE(button, nullptr) << page;
    button->click();
}

QString WindowTest::currentPage() {
    return find<QTabWidget>("PageControl1")->currentWidget()->objectName();
}

QString WindowTest::panelText(int panel) {
    form_->runHost().flushStatus();
    return form_->statusPanel(panel)->text();
}

} // namespace fieldsmith::apptest
