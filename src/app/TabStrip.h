// The page control's tabs in rows that wrap, as many rows as the window's width needs.
// It mirrors the tabs of a QTabWidget whose own tab bar is hidden.
#pragma once

#include <QWidget>
#include <vector>

class QTabWidget;
class QToolButton;

namespace fieldsmith::app {

class TabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TabStrip(QTabWidget* tabs, QWidget* parent = nullptr);

    //! Re-reads the tabs (captions, icons, visibility) after they changed.
    void syncTabs();

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    //! Places the buttons for a width; returns the height used.
    int layoutButtons(int width, bool apply) const;
    void updateChecked();

    QTabWidget* tabs_;
    std::vector<QToolButton*> buttons_;
};

} // namespace fieldsmith::app
