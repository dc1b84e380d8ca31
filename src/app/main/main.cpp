#include "app/form1.h"
#include "app/message_box_sink.h"
#include "link/hidapi_bridge.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qav7120-console"));

    qav::app::Form1 form(std::make_unique<qav::link::HidapiBridge>());
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
