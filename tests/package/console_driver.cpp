// Drives an installed console from inside, for check-packages. Preloaded into
// the console (LD_PRELOAD), it waits for the console's window and then
// - reports the window, and every message box the console opens, on stderr;
// - when QAV_DRIVER_BIG5 holds a text, speaks it in BIG5 as the engineer
//   would: the text into the send text area, "BIG5" from the encoding list,
//   then "合成";
// - when QAV_DRIVER_CLICK names buttons (blank-separated object names such
//   as "Command25"), clicks them in that order.
// The console itself is the packaged program, unchanged.
//
// Windows has no preloading: there the driver is a Qt generic plugin, which
// the console loads when started with -plugin qavdriver (from generic/ beside
// it), and which does the same from then on.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

void report(const QString& line) {
    std::fprintf(stderr, "driver: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QWidget* consoleWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("Form1") && widget->isVisible())
            return widget;
    return nullptr;
}

bool speakBig5(QWidget& form, const QString& text) {
    auto* text3 = form.findChild<QPlainTextEdit*>(QStringLiteral("Text3"));
    auto* combo5 = form.findChild<QComboBox*>(QStringLiteral("Combo5"));
    auto* command6 = form.findChild<QPushButton*>(QStringLiteral("Command6"));
    if (!text3 || !combo5 || !command6)
        return false;
    const int big5 = combo5->findText(QStringLiteral("BIG5"));
    if (big5 < 0)
        return false;
    text3->setPlainText(text);
    combo5->setCurrentIndex(big5);
    emit combo5->activated(big5); // what a pick with the mouse sends
    command6->click();
    return true;
}

void clickButtons(QWidget& form, const QString& names) {
    for (const QString& name : names.split(u' ', Qt::SkipEmptyParts)) {
        auto* button = form.findChild<QPushButton*>(name);
        if (!button) {
            report(QStringLiteral("no button ") + name);
            continue;
        }
        button->click();
        report(QStringLiteral("clicked ") + name);
    }
}

void reportMessageBoxes() {
    static const char* const kReported = "qavDriverReported";
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property(kReported).toBool())
            continue;
        box->setProperty(kReported, true);
        report(QStringLiteral("message: ") + box->text());
    }
}

void startDriving() {
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [] {
        static bool windowSeen = false;
        reportMessageBoxes();
        if (windowSeen)
            return;
        QWidget* form = consoleWindow();
        if (!form)
            return;
        windowSeen = true;
        report(QStringLiteral("window up"));
        clickButtons(*form, qEnvironmentVariable("QAV_DRIVER_CLICK"));
        const QString text = qEnvironmentVariable("QAV_DRIVER_BIG5");
        if (text.isEmpty())
            return;
        if (speakBig5(*form, text))
            report(QStringLiteral("spoke in BIG5: ") + text);
        else
            report(QStringLiteral("cannot find the send text, the encoding list or 合成"));
    });
    timer->start(20);
}

// Runs inside the application's constructor, before the window exists: wait
// for the event loop, which starts once the console has loaded and shown it.
void install() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &startDriving, Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)

#ifdef Q_OS_WIN
#include <QGenericPlugin>

class ConsoleDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "console_driver.json")
public:
    QObject* create(const QString&, const QString&) override { return nullptr; }
};

#include "console_driver.moc"
#endif
