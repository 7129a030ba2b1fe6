#include "app/TabStrip.h"

#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

namespace fieldsmith::app {

namespace {
constexpr int kGap = 2;
}

TabStrip::TabStrip(QTabWidget* tabs, QWidget* parent) : QWidget(parent), tabs_(tabs) {
    setObjectName(QStringLiteral("PageControl1Tabs"));
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    syncTabs();
    connect(tabs_, &QTabWidget::currentChanged, this, &TabStrip::updateChecked);
}

void TabStrip::syncTabs() {
    qDeleteAll(buttons_);
    buttons_.clear();
    for (int i = 0; i < tabs_->count(); ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(tabs_->widget(i)->objectName() + QStringLiteral("Tab"));
        b->setText(tabs_->tabText(i));
        b->setIcon(tabs_->tabIcon(i));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setIconSize(QSize(16, 16));
        b->setStyleSheet(QStringLiteral("QToolButton { padding: 2px 4px; }"));
        b->setVisible(tabs_->isTabVisible(i));
        // A click is the user selecting the tab, like a click on the tab itself.
        connect(b, &QToolButton::clicked, this, [this, i] {
            tabs_->setCurrentIndex(i);
            updateChecked();
        });
        buttons_.push_back(b);
    }
    updateChecked();
    // Before the window is laid out the width means nothing yet; assume the design width.
    setFixedHeight(layoutButtons(isVisible() ? width() : 740, true));
}

void TabStrip::updateChecked() {
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i)
        buttons_[i]->setChecked(i == tabs_->currentIndex());
}

int TabStrip::layoutButtons(int width, bool apply) const {
    int x = 0, y = 0, rowHeight = 0;
    for (QToolButton* b : buttons_) {
        if (b->isHidden()) continue;
        const QSize s = b->sizeHint();
        if (x > 0 && x + s.width() > width) {
            x = 0;
            y += rowHeight + kGap;
            rowHeight = 0;
        }
        if (apply) b->setGeometry(x, y, s.width(), s.height());
        x += s.width() + kGap;
        rowHeight = std::max(rowHeight, s.height());
    }
    return y + rowHeight;
}

QSize TabStrip::sizeHint() const {
    const int w = isVisible() ? width() : 740;
    return {w, layoutButtons(w, false)};
}

void TabStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The height follows the width: as many rows as the buttons need.
    const int h = layoutButtons(width(), true);
    if (h != height()) setFixedHeight(h);
}

} // namespace fieldsmith::app
