// The file picker: drive (file-system roots and mounted volumes), directory list, file
// list with a mask and a file-name box. Its result is the directory, a separator and the
// file name.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace fieldsmith::ui {

class TDateiWahl : public QDialog {
    Q_OBJECT
public:
    explicit TDateiWahl(QWidget* parent = nullptr);

    //! The file list's mask, such as "*.csv".
    void setFileMask(const QString& mask);
    QString directory() const;
    QString fileEditText() const;
    //! The directory, a separator and the file name; no separator after the root.
    QString resultPath() const;
    //! Changes the current directory (the program's too, as the picker always did).
    void setDirectory(const QString& path);

    //! The mount points of a /proc/mounts text that hold real file systems, root first.
    static QStringList mountPoints(const QString& procMounts);

    // handlers
    void FormCreate();
    void LadeSprache();
    void FileListBox1Click();
    void OKBtnClick();
    void AbbruchBtnClick();
    //! Applies the file-name box: a directory part changes directory, a wildcard sets
    //! the mask, any other name selects that file (refused when it does not exist).
    bool FileEditExit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillDrives();
    void fillDirectories();
    void fillFiles();

    QString directory_;
    QString mask_ = QStringLiteral("*.*");
    QComboBox* DriveComboBox1;
    QListWidget* DirectoryListBox1;
    QLabel* PathLabel;
    QListWidget* FileListBox1;
    QComboBox* FilterComboBox1;
    QLineEdit* FileEdit;
    QPushButton* OKBtn;
    QPushButton* AbbruchBtn;
    QLabel* DriveLabel;
    QLabel* DirLabel;
    QLabel* TypeLabel;
    QLabel* FileLabel;
    bool applying_ = false;
};

} // namespace fieldsmith::ui
