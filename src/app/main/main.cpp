#include "app/form1.h"
#include "app/message_box_sink.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qav7120-console"));

    qav::app::Form1 form;
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
