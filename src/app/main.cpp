// Program start: the application titled "KR4 Fieldsmith", the main window, and the ZIP
// status form that stays hidden until the script import shows it.
#include "app/FieldsmithApplication.h"
#include "app/FieldsmithForm.h"
#include "create/CreateTable.h"
#include "csv/CsvExchange.h"
#include "engine/Session.h"
#include "ops/FieldOperations.h"
#include "oracle/OracleExchange.h"
#include "ui/ZipMsgForm.h"
#ifdef FIELDSMITH_WITH_DEMO
#include "app/demo/DemoConfiguration.h"
#endif

#include <QLocale>
#include <QMessageBox>

namespace {

// The session's date, time and number formats from the user's locale.
void takeFormatsFromLocale(fieldsmith::engine::FormatSettings& formats) {
    const QLocale locale;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    date.replace(QLatin1String("MM"), QLatin1String("mm"))
        .replace(QLatin1Char('M'), QLatin1Char('m'));
    if (!date.contains(QLatin1String("yy"))) date.replace(QLatin1Char('y'), QLatin1String("yyyy"));
    formats.shortDateFormat = date.toStdString();
    QString time = locale.timeFormat(QLocale::LongFormat).section(QLatin1Char(' '), 0, 0);
    time.replace(QLatin1String("HH"), QLatin1String("hh"))
        .replace(QLatin1Char('H'), QLatin1Char('h'));
    time.replace(QLatin1String("mm"), QLatin1String("nn"))
        .replace(QLatin1Char('m'), QLatin1Char('n'));
    formats.longTimeFormat = time.toStdString();
    const QString decimal = locale.decimalPoint();
    formats.decimalSeparator = decimal.isEmpty() ? '.' : decimal.at(0).toLatin1();
}

} // namespace

int main(int argc, char** argv) {
    fieldsmith::app::FieldsmithApplication app(argc, argv);
    fieldsmith::engine::Session session(fieldsmith::engine::configDirectory());
    try {
#ifdef FIELDSMITH_WITH_DEMO
        fieldsmith::demo::ensureDemoConfiguration(session.configDir());
#endif
        session.loadConfiguration();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromStdString(e.what()));
    }
    takeFormatsFromLocale(session.formats());

    fieldsmith::app::TFieldsmithForm form(session, app.programArguments());
    fieldsmith::ops::registerOperations(form.operationTable());
    fieldsmith::csv::registerOperations(form.operationTable());
    fieldsmith::oracle::registerOperations(form.operationTable());
    fieldsmith::create::registerOperations(form.operationTable());
    form.setZipMsgForm(new fieldsmith::ui::TZipMsgForm(&form));
    form.show();
    return app.exec();
}
