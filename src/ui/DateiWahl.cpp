#include "ui/DateiWahl.h"

#include "ui/LanguageCode.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace fieldsmith::ui {

namespace {

struct Filter {
    const char* description;
    const char* mask;
};

constexpr Filter kFilters[] = {
    {"All Files (*.*)", "*.*"},       {"Text Files (*.txt)", "*.txt"},
    {"Executables (*.exe)", "*.exe"}, {"Batch Files (*.bat)", "*.bat"},
    {"DB-Files (*.db)", "*.db"},      {"Word Files (*.doc)", "*.doc"},
    {"DBase Files (*.dbf)", "*.dbf"}, {"Word Pro Files (*.lwp)", "*.lwp"},
    {"Zip Files (*.zip)", "*.zip"},   {"HTML Files (*.htm)", "*.htm"},
    {"APAR-Files (*.apr)", "*.apr"},  {"AmiPro Files (*.sam)", "*.sam"},
};

// "*.*" stands for every file, also those without a dot, as it always did.
QStringList nameFilters(const QString& mask) {
    if (mask == QLatin1String("*.*")) return {QStringLiteral("*")};
    return mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// Pseudo and kernel file systems that hold no user files.
bool isVirtualFileSystem(const QString& type) {
    static const QStringList kVirtual = {
        "proc",      "sysfs",    "devtmpfs", "devpts",      "securityfs",      "cgroup",
        "cgroup2",   "pstore",   "bpf",      "debugfs",     "tracefs",         "mqueue",
        "hugetlbfs", "configfs", "fusectl",  "binfmt_misc", "autofs",          "rpc_pipefs",
        "nsfs",      "efivarfs", "ramfs",    "selinuxfs",   "overlay_internal"};
    return kVirtual.contains(type);
}

QString unescapeMountPath(QString path) {
    // /proc/mounts writes blanks and a few other characters as octal escapes.
    static const QRegularExpression kOctal(QStringLiteral("\\\\([0-7]{3})"));
    QString out;
    int last = 0;
    for (auto it = kOctal.globalMatch(path); it.hasNext();) {
        const auto m = it.next();
        out += path.mid(last, m.capturedStart() - last);
        out += QChar(m.captured(1).toInt(nullptr, 8));
        last = m.capturedEnd();
    }
    return out + path.mid(last);
}

} // namespace

QStringList TDateiWahl::mountPoints(const QString& procMounts) {
    QStringList points{QStringLiteral("/")};
    for (const QString& line : procMounts.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() < 3 || isVirtualFileSystem(parts[2])) continue;
        const QString point = unescapeMountPath(parts[1]);
        if (point.startsWith(QLatin1String("/proc")) || point.startsWith(QLatin1String("/sys")) ||
            point.startsWith(QLatin1String("/dev")) || point.startsWith(QLatin1String("/run")))
            continue;
        if (!points.contains(point)) points << point;
    }
    return points;
}

TDateiWahl::TDateiWahl(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DateiWahl"));
    setWindowTitle(QStringLiteral("Datei-Auswahl"));
    auto* grid = new QGridLayout(this);

    FileLabel = new QLabel(QStringLiteral("&Datei:"), this);
    FileEdit = new QLineEdit(QStringLiteral("*.*"), this);
    FileEdit->setObjectName(QStringLiteral("FileEdit"));
    FileListBox1 = new QListWidget(this);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    TypeLabel = new QLabel(QStringLiteral("Datei-&Typ:"), this);
    FilterComboBox1 = new QComboBox(this);
    FilterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
    for (const Filter& f : kFilters)
        FilterComboBox1->addItem(QString::fromLatin1(f.description), QString::fromLatin1(f.mask));

    DirLabel = new QLabel(QStringLiteral("&Verzeichnis:"), this);
    PathLabel = new QLabel(this);
    PathLabel->setObjectName(QStringLiteral("PathLabel"));
    DirectoryListBox1 = new QListWidget(this);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DriveLabel = new QLabel(QStringLiteral("&LW:"), this);
    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));

    OKBtn = new QPushButton(QStringLiteral("&OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    AbbruchBtn = new QPushButton(QStringLiteral("     &Cancel     "), this);
    AbbruchBtn->setObjectName(QStringLiteral("AbbruchBtn"));

    FileLabel->setBuddy(FileEdit);
    TypeLabel->setBuddy(FilterComboBox1);
    DirLabel->setBuddy(DirectoryListBox1);
    DriveLabel->setBuddy(DriveComboBox1);

    grid->addWidget(FileLabel, 0, 0);
    grid->addWidget(FileEdit, 1, 0);
    grid->addWidget(FileListBox1, 2, 0);
    grid->addWidget(TypeLabel, 3, 0);
    grid->addWidget(FilterComboBox1, 4, 0);
    grid->addWidget(DirLabel, 0, 1);
    grid->addWidget(PathLabel, 1, 1);
    grid->addWidget(DirectoryListBox1, 2, 1);
    grid->addWidget(DriveLabel, 3, 1);
    grid->addWidget(DriveComboBox1, 4, 1);
    grid->addWidget(OKBtn, 1, 2);
    grid->addWidget(AbbruchBtn, 2, 2, Qt::AlignTop);
    resize(560, 360);

    connect(FileListBox1, &QListWidget::itemClicked, this, &TDateiWahl::FileListBox1Click);
    connect(FileListBox1, &QListWidget::itemDoubleClicked, this, [this] {
        FileListBox1Click();
        OKBtnClick();
    });
    connect(OKBtn, &QPushButton::clicked, this, &TDateiWahl::OKBtnClick);
    connect(AbbruchBtn, &QPushButton::clicked, this, &TDateiWahl::AbbruchBtnClick);
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { setFileMask(FilterComboBox1->currentData().toString()); });
    connect(DirectoryListBox1, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) {
                setDirectory(QDir(directory_).absoluteFilePath(item->text()));
            });
    connect(DriveComboBox1, &QComboBox::activated, this,
            [this] { setDirectory(DriveComboBox1->currentText()); });
    FileEdit->installEventFilter(this);

    FormCreate();
}

void TDateiWahl::FormCreate() {
    if (GetLanguageCode() != QLatin1String("deu")) LadeSprache();
    fillDrives();
    setDirectory(QDir::currentPath());
    OKBtn->setEnabled(false);
}

void TDateiWahl::LadeSprache() {
    AbbruchBtn->setText(QStringLiteral(" &Cancel"));
    FileLabel->setText(QStringLiteral("&Datei:"));
    DirLabel->setText(QStringLiteral("&Verzeichnis:"));
    OKBtn->setText(QStringLiteral("  &OK"));
    TypeLabel->setText(QStringLiteral("Datei-&Typ: "));
    DriveLabel->setText(QStringLiteral("&LW:"));
    setWindowTitle(QStringLiteral("Datei-Auswahl"));
}

void TDateiWahl::fillDrives() {
    QFile mounts(QStringLiteral("/proc/mounts"));
    QString text;
    if (mounts.open(QIODevice::ReadOnly)) text = QString::fromLocal8Bit(mounts.readAll());
    DriveComboBox1->clear();
    DriveComboBox1->addItems(mountPoints(text));
}

void TDateiWahl::setDirectory(const QString& path) {
    const QDir dir(path);
    if (!dir.exists()) return;
    directory_ = QDir::cleanPath(dir.absolutePath());
    QDir::setCurrent(directory_);
    PathLabel->setText(directory_);
    fillDirectories();
    fillFiles();
}

void TDateiWahl::fillDirectories() {
    DirectoryListBox1->clear();
    QDir dir(directory_);
    if (!dir.isRoot()) DirectoryListBox1->addItem(QStringLiteral(".."));
    DirectoryListBox1->addItems(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                              QDir::Name | QDir::IgnoreCase));
}

void TDateiWahl::fillFiles() {
    FileListBox1->clear();
    QDir dir(directory_);
    dir.setNameFilters(nameFilters(mask_));
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    QFileIconProvider icons;
    for (const QFileInfo& info : dir.entryInfoList())
        FileListBox1->addItem(new QListWidgetItem(icons.icon(info), info.fileName()));
    OKBtn->setEnabled(false);
}

void TDateiWahl::setFileMask(const QString& mask) {
    mask_ = mask.isEmpty() ? QStringLiteral("*.*") : mask;
    if (FileEdit->text().contains(QLatin1Char('*')) || FileEdit->text().isEmpty())
        FileEdit->setText(mask_);
    if (!directory_.isEmpty()) fillFiles();
}

QString TDateiWahl::directory() const {
    return directory_;
}
QString TDateiWahl::fileEditText() const {
    return FileEdit->text();
}

QString TDateiWahl::resultPath() const {
    if (directory_ == QLatin1String("/")) return directory_ + FileEdit->text();
    return directory_ + QLatin1Char('/') + FileEdit->text();
}

void TDateiWahl::FileListBox1Click() {
    if (auto* item = FileListBox1->currentItem()) {
        FileEdit->setText(item->text());
        OKBtn->setEnabled(true);
    }
}

void TDateiWahl::OKBtnClick() {
    if (!FileEditExit()) return;
    accept();
}

void TDateiWahl::AbbruchBtnClick() {
    reject();
}

bool TDateiWahl::FileEditExit() {
    if (applying_) return true;
    applying_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{applying_};

    QString text = FileEdit->text().trimmed();
    if (text.isEmpty()) return true;
    const int sep = text.lastIndexOf(QLatin1Char('/'));
    if (sep >= 0) {
        const QString dirPart = sep == 0 ? QStringLiteral("/") : text.left(sep);
        const QString resolved = QDir(directory_).absoluteFilePath(dirPart);
        if (QDir(resolved).exists()) setDirectory(resolved);
        text = text.mid(sep + 1);
        FileEdit->setText(text.isEmpty() ? mask_ : text);
        if (text.isEmpty()) return true;
    }
    if (text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'))) {
        setFileMask(text);
        return true;
    }
    if (!QFileInfo(QDir(directory_).absoluteFilePath(text)).isFile()) {
        QMessageBox::critical(this, windowTitle(),
                              QStringLiteral("Ungültiger Dateiname - %1").arg(FileEdit->text()));
        return false;
    }
    const auto found = FileListBox1->findItems(text, Qt::MatchExactly);
    if (!found.isEmpty()) FileListBox1->setCurrentItem(found.first());
    OKBtn->setEnabled(true);
    return true;
}

bool TDateiWahl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FileEdit) {
        if (event->type() == QEvent::FocusOut) {
            FileEditExit();
        } else if (event->type() == QEvent::KeyPress) {
            const auto key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                FileEditExit();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace fieldsmith::ui
