// The window tests run on the offscreen platform with one application object.
#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler gPreviousHandler = nullptr;

// The offscreen platform says for every popup that it cannot raise it; that is noise here.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (gPreviousHandler) gPreviousHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    gPreviousHandler = qInstallMessageHandler(quietHandler);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
