// Program start: the application titled "KR4 Fieldsmith", the main window, and the ZIP
// status form that stays hidden until the script import shows it.
#include "app/FieldsmithApplication.h"
#include "app/FieldsmithForm.h"
#include "engine/Session.h"
#include "ui/ZipMsgForm.h"

#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QTabWidget>

namespace {

// The session's date, time and number formats from the user's locale.
void takeFormatsFromLocale(fieldsmith::engine::FormatSettings& formats) {
    const QLocale locale;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    date.replace(QLatin1String("MM"), QLatin1String("mm")).replace(QLatin1Char('M'), QLatin1Char('m'));
    if (!date.contains(QLatin1String("yy"))) date.replace(QLatin1Char('y'), QLatin1String("yyyy"));
    formats.shortDateFormat = date.toStdString();
    QString time = locale.timeFormat(QLocale::LongFormat).section(QLatin1Char(' '), 0, 0);
    time.replace(QLatin1String("HH"), QLatin1String("hh")).replace(QLatin1Char('H'), QLatin1Char('h'));
    time.replace(QLatin1String("mm"), QLatin1String("nn")).replace(QLatin1Char('m'), QLatin1Char('n'));
    formats.longTimeFormat = time.toStdString();
    const QString decimal = locale.decimalPoint();
    formats.decimalSeparator = decimal.isEmpty() ? '.' : decimal.at(0).toLatin1();
}

} // namespace

int main(int argc, char** argv) {
    fieldsmith::app::FieldsmithApplication app(argc, argv);
    fieldsmith::engine::Session session(fieldsmith::engine::configDirectory());
    try {
        session.loadConfiguration();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(e.what()));
    }
    takeFormatsFromLocale(session.formats());

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    fieldsmith::app::TFieldsmithForm form(session, arguments);
    form.setZipMsgForm(new fieldsmith::ui::TZipMsgForm(&form));
    form.show();
    if (qEnvironmentVariableIsSet("FS_SHOT_DIR")) {
        QTimer::singleShot(300, [&] {
            auto* tabs = form.findChild<QTabWidget*>("PageControl1");
            for (int i = 0; i < tabs->count(); ++i) {
                tabs->setCurrentIndex(i);
                for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
                form.grab().save(qEnvironmentVariable("FS_SHOT_DIR") + QString("/page%1.png").arg(i));
            }
            QCoreApplication::quit();
        });
    }
    return app.exec();
}
