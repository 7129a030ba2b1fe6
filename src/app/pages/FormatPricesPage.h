// The Format Prices page (Seite6).
#pragma once

#include <QWidget>

namespace fieldsmith::app {

class TFieldsmithForm;

class TFormatPricesPage : public QWidget {
    Q_OBJECT
public:
    TFormatPricesPage(TFieldsmithForm& form, QWidget* parent = nullptr);
};

} // namespace fieldsmith::app
