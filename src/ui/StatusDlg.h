// The status dialog of the table copy and the INSERT export: a count line and a Cancel
// button that sets the dialog's own cancel flag. Shown without waiting.
#pragma once

#include <QDialog>
#include <QSize>

class QLabel;

namespace fieldsmith::ui {

class TStatusDlg : public QDialog {
    Q_OBJECT
public:
    explicit TStatusDlg(QWidget* parent = nullptr);

    //! The dialog's size for a screen of this many pixels per inch: above 96, a quarter larger.
    static QSize scaledSize(QSize designSize, double dotsPerInch);

    bool cancelled() const { return cancelled_; }
    void clearCancel() { cancelled_ = false; }
    void setCount(const QString& text);
    //! Hides the file-name row, as every caller of this program does.
    void hideFileRow();

    void CancelBtnClick() { cancelled_ = true; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool cancelled_ = false;
    QLabel* DateiLAbel;
    QLabel* CountLabel;
};

} // namespace fieldsmith::ui
