// The preview window: what a run would report and the first records it would change, each
// changed field with its old and new value side by side. Run from here starts the real run.
#pragma once

#include "tables/Preview.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace fieldsmith::app {

class TPreviewForm : public QDialog {
    Q_OBJECT
public:
    TPreviewForm(QWidget* parent, const tables::PreviewResult& result);

    // The window's parts, for tests.
    QLabel* SummaryLabel = nullptr;
    QTableWidget* ChangesGrid = nullptr;
    QPushButton* RunBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
};

} // namespace fieldsmith::app
