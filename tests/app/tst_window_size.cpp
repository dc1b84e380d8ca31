// The window as it opens: 1200 x 800 where the screen has room for it and
// its frame, smaller on a smaller screen, and on a laptop's 1366 x 768 every
// control it shows lies on the screen, down to the "0x" box and the work log's
// lower edge.
//
// The offscreen platform takes its screens from a file (configfile=...); this
// program writes one for the screen named by QAV_TEST_SCREEN ("1366x768" when
// unset) before the application starts. The other screens run the same check
// in a child process each.
#include "app_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace qav;
using namespace qav::test;

namespace {

constexpr const char* kScreenVariable = "QAV_TEST_SCREEN";

QSize screenWanted() {
    const QByteArray text = qEnvironmentVariableIsSet(kScreenVariable) ? qgetenv(kScreenVariable)
                                                                       : QByteArray("1366x768");
    const QList<QByteArray> parts = text.split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

// Where a control of the window lies on the screen.
QRect onScreen(const QWidget* w) {
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// The visible controls of the window, the window itself left out.
QList<QWidget*> shownControls(QWidget& window) {
    QList<QWidget*> shown;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->isVisible() && !w->isWindow())
            shown << w;
    }
    return shown;
}

} // namespace

class TestWindowSize : public QObject {
    Q_OBJECT
private slots:
    // The window of a fresh start on this process's screen, placed at the
    // top left of the screen's free area as a window manager places a window
    // that fits.
    void windowFitsTheScreen() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(screen);
        QCOMPARE(screen->geometry().size(), screenWanted());
        const QRect free = screen->availableGeometry();

        ConsoleFixture c;
        app::Form1& f = c.load();
        f.move(free.topLeft());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const QSize hint = f.minimumSizeHint();
        qInfo("screen %dx%d: window %dx%d, frame %dx%d, minimumSizeHint %dx%d", free.width(),
              free.height(), f.width(), f.height(), f.frameGeometry().width(),
              f.frameGeometry().height(), hint.width(), hint.height());

        // Never above 1200 x 800, and that size where the screen has room
        // for it and a title bar and border.
        QVERIFY(f.width() <= 1200 && f.height() <= 800);
        QVERIFY(f.width() >= hint.width() && f.height() >= hint.height());
        if (free.width() >= 1200 + 16 && free.height() >= 800 + 48)
            QCOMPARE(f.size(), QSize(1200, 800));
        // On a 1366 x 768 laptop, also less a panel, the layout's smallest
        // size leaves room for the frame.
        if (free.width() == 1366)
            QVERIFY2(hint.width() <= 1366 - 16 && hint.height() <= 720 - 48,
                     qPrintable(QStringLiteral("%1x%2").arg(hint.width()).arg(hint.height())));
        // Wherever the smallest size fits, the whole window does.
        if (hint.width() + 16 <= free.width() && hint.height() + 48 <= free.height()) {
            QVERIFY2(free.contains(f.frameGeometry()),
                     qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                                    .arg(f.frameGeometry().x())
                                    .arg(f.frameGeometry().y())
                                    .arg(f.frameGeometry().width())
                                    .arg(f.frameGeometry().height())));
            // Every control the window shows lies wholly on the screen,
            // within the window, and within the group that holds it: none
            // is cut off.
            const QRect window = onScreen(&f);
            for (QWidget* w : shownControls(f)) {
                const QRect r = onScreen(w);
                QVERIFY2(free.contains(r) && window.contains(r) &&
                             onScreen(w->parentWidget()).contains(r),
                         qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                        .arg(w->objectName())
                                        .arg(r.x())
                                        .arg(r.y())
                                        .arg(r.width())
                                        .arg(r.height())));
            }
            // The lowest controls of the left column, by name.
            QVERIFY(f.Check5->isVisible());
            QVERIFY(onScreen(f.Check5).bottom() <= free.bottom());
            QVERIFY(onScreen(f.Check5).bottom() <= window.bottom());
            QVERIFY(onScreen(f.Text4).bottom() <= free.bottom());
            QVERIFY(onScreen(f.Text4).bottom() < onScreen(f.Check5).top());
            // The work log keeps room for some lines.
            QVERIFY(f.Text4->height() >= 100);
        }
    }

    // The same check on other screens, each in a process of its own.
    void otherScreens_data() {
        QTest::addColumn<QString>("screen");
        QTest::newRow("desktop 1920x1080") << QStringLiteral("1920x1080");
        QTest::newRow("just room 1216x848") << QStringLiteral("1216x848");
        QTest::newRow("laptop less a 48 px panel") << QStringLiteral("1366x720");
        QTest::newRow("1280x800") << QStringLiteral("1280x800");
        QTest::newRow("netbook 1024x600, smaller than the layout") << QStringLiteral("1024x600");
    }
    void otherScreens() {
        QFETCH(QString, screen);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kScreenVariable), screen);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("windowFitsTheScreen")});
        QVERIFY(child.waitForFinished(120'000));
        const QByteArray said = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 said.constData());
        const qsizetype at = said.indexOf("screen ");
        qInfo("%s", said.mid(at, said.indexOf('\n', at) - at).constData());
    }
};

int main(int argc, char** argv) {
    // The offscreen platform with one screen of the size wanted.
#ifdef Q_OS_WIN
    // A colon ends the platform's argument: no drive letter in the path.
    QTemporaryDir configDir(QStringLiteral("screen-XXXXXX"));
    const QString config = QDir::current().relativeFilePath(configDir.filePath(u"screen.json"_qs));
#else
    QTemporaryDir configDir;
    const QString config = configDir.filePath(QStringLiteral("screen.json"));
#endif
    const QSize size = screenWanted();
    QFile file(config);
    if (!size.isValid() || !file.open(QIODevice::WriteOnly))
        return 2;
    file.write(
        QStringLiteral(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": %1, )"
                       R"("height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
            .arg(size.width())
            .arg(size.height())
            .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));

    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowSize test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_size.moc"
