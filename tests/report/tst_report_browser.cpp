// The page in a real browser: headless Chromium opens it from a file, with
// no network, and the test reads the page as drawn (--dump-dom), what the
// browser's console said, and a screenshot, for a run with two hangs.
#include "report/report.h"
#include "report_helpers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qav::test;

namespace {

struct BrowserRun {
    QByteArray dom;
    QString console; // standard error, with the browser's console messages
    qint64 ms = 0;
    bool finished = false;
};

constexpr int kWidth = 1400;
constexpr int kHeight = 2400;

BrowserRun runChromium(const QString& chromium, const QString& profile, const QStringList& what) {
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(chromium,
            QStringList{u"--headless"_qs, u"--no-sandbox"_qs, u"--disable-gpu"_qs,
                        u"--disable-background-networking"_qs, u"--disable-component-update"_qs,
                        u"--disable-sync"_qs, u"--no-first-run"_qs, u"--hide-scrollbars"_qs,
                        u"--force-device-scale-factor=1"_qs,
                        QStringLiteral("--window-size=%1,%2").arg(kWidth).arg(kHeight),
                        u"--user-data-dir="_qs + profile, u"--enable-logging=stderr"_qs,
                        u"--v=0"_qs} +
                what);
    BrowserRun run;
    run.finished = p.waitForFinished(120'000);
    run.ms = clock.elapsed();
    if (!run.finished)
        p.kill();
    run.dom = p.readAllStandardOutput();
    run.console = QString::fromUtf8(p.readAllStandardError());
    return run;
}

QStringList consoleMessages(const QString& log) {
    QStringList out;
    for (const QString& line : log.split(u'\n'))
        if (line.contains(u"CONSOLE"_qs) || line.contains(u"Uncaught"_qs))
            out << line;
    return out;
}

QString cell(const QByteArray& dom, const char* cls) {
    const QRegularExpression re(
        QStringLiteral("<td class=\"%1[^\"]*\">([^<]*)</td>").arg(QLatin1String(cls)));
    return re.match(QString::fromUtf8(dom)).captured(1);
}

// Light red over white, as the bands are drawn: neither the series' orange
// nor their blue.
bool isBand(QRgb c) {
    return qRed(c) - qGreen(c) > 25 && qAbs(qGreen(c) - qBlue(c)) < 15 && qGreen(c) > 140;
}

} // namespace

class TestReportBrowser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        useChinaTime();
        chromium_ = QStandardPaths::findExecutable(u"chromium"_qs);
        if (chromium_.isEmpty())
            QSKIP("chromium is not installed (scripts/install-deps installs it): the page is not "
                  "opened in a browser");
    }

    void aRunWithTwoHangs() {
        QTemporaryDir dir;
        const QString capture = dir.filePath(u"LOG-capture-20261208-030000-7.pcapng"_qs);
        writeHourWithTwoHangs(capture);
        const QString page = dir.filePath(u"report.html"_qs);
        const auto outcome = qav::report::writeReport({capture}, page, u"qav7120-report test"_qs);
        QVERIFY2(outcome.fault == qav::report::ReportOutcome::Fault::None,
                 qPrintable(outcome.message));
        const QString url = QUrl::fromLocalFile(page).toString();

        const BrowserRun dom =
            runChromium(chromium_, dir.filePath(u"profile"_qs),
                        {u"--dump-dom"_qs, u"--virtual-time-budget=2000"_qs, url});
        QVERIFY(dom.finished);
        qInfo("the page opened and drew in %lld ms", dom.ms);
        QCOMPARE(consoleMessages(dom.console), QStringList());
        const QString body =
            QRegularExpression(u"<body[^>]*>"_qs).match(QString::fromUtf8(dom.dom)).captured(0);
        QVERIFY2(!body.contains(u"data-errors"_qs), qPrintable(body));
        QVERIFY2(body.contains(u"data-charts-drawn=\"1\""_qs), qPrintable(body));
        qInfo("%s", qPrintable(body));

        // The summary as the browser shows it.
        QCOMPARE(cell(dom.dom, "test"), u"crash-test"_qs);
        QCOMPARE(cell(dom.dom, "port"), u"COM2"_qs);
        QCOMPARE(cell(dom.dom, "baud"), u"115200"_qs);
        QCOMPARE(cell(dom.dom, "start"), u"2026-12-08 03:00:00"_qs);
        QCOMPARE(cell(dom.dom, "duration"), u"1:00:00"_qs);
        QCOMPARE(cell(dom.dom, "steps"), u"298"_qs);
        QCOMPARE(cell(dom.dom, "hangs"), u"2"_qs);
        QCOMPARE(cell(dom.dom, "mtbh"), u"0:30:00"_qs);
        QCOMPARE(cell(dom.dom, "received-median"), u"40 ms"_qs);
        QCOMPARE(cell(dom.dom, "idle-max"), u"2600 ms"_qs);
        QVERIFY(dom.dom.contains(u"芯片死机：第 2 次，无回传 66 秒"_qs.toUtf8()));

        // dygraphs drew both charts, into canvases.
        const QRegularExpression chart(u"<div class=\"chart\" id=\"chart-0\"[^>]*>"_qs);
        const QString chartTag = chart.match(QString::fromUtf8(dom.dom)).captured(0);
        QVERIFY2(chartTag.contains(u"data-drawn=\"1\""_qs), qPrintable(chartTag));
        QVERIFY(dom.dom.count("<canvas") >= 4);

        // The bands lie where the hangs were: the x of each moment in the
        // chart's area is its share of the run's time.
        const QRegularExpression layoutAttr(u"data-layout=\"([^\"]*)\""_qs);
        QString layoutText = layoutAttr.match(chartTag).captured(1);
        layoutText.replace(u"&quot;"_qs, u"\""_qs);
        const QJsonObject layout = QJsonDocument::fromJson(layoutText.toUtf8()).object();
        const QJsonObject area = layout[u"area"_qs].toObject();
        const QJsonArray range = layout[u"range"_qs].toArray();
        const double x0 = area[u"x"_qs].toDouble(), w = area[u"w"_qs].toDouble();
        const double t0 = range[0].toDouble(), t1 = range[1].toDouble();
        const qint64 offset = 8 * 3600 * 1000; // the chart shows local time
        auto xOf = [&](qint64 atMs) {
            return x0 + w * (double(kRunStartMs + atMs + offset) - t0) / (t1 - t0);
        };
        const QJsonArray bands = layout[u"bands"_qs].toArray();
        QCOMPARE(bands.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonArray b = bands[i].toArray();
            QVERIFY(qAbs(b[0].toDouble() - xOf(kHangAtMs[i] + 40)) < 1);
            QVERIFY(qAbs(b[1].toDouble() - xOf(kHangAtMs[i] + kVerdictAfterMs)) < 1);
            QVERIFY(qAbs(b[2].toDouble() - xOf(kHangAtMs[i] + kHangSilenceMs + 1)) < 1);
        }

        // And the screenshot shows them there: light red inside each band,
        // none half-way between them.
        const QString shot = QDir::current().filePath(u"report_two_hangs.png"_qs);
        QFile::remove(shot);
        const BrowserRun picture =
            runChromium(chromium_, dir.filePath(u"profile"_qs), {u"--screenshot="_qs + shot, url});
        QVERIFY(picture.finished);
        const QImage image(shot);
        QVERIFY2(!image.isNull(), qPrintable(shot));
        const double left = layout[u"left"_qs].toDouble();
        const double top = layout[u"top"_qs].toDouble() + area[u"y"_qs].toDouble();
        const double height = area[u"h"_qs].toDouble();
        auto bandShare = [&](double x) {
            int band = 0, all = 0;
            for (int y = int(top) + 2; y < int(top + height) - 2; ++y, ++all)
                band += isBand(image.pixel(int(left + x), y));
            return double(band) / all;
        };
        for (int i = 0; i < 2; ++i) {
            const double inside =
                (xOf(kHangAtMs[i] + kVerdictAfterMs) + xOf(kHangAtMs[i] + kHangSilenceMs)) / 2;
            QVERIFY2(bandShare(inside) > 0.5, qPrintable(QString::number(bandShare(inside))));
        }
        QCOMPARE(bandShare(xOf(1'800'000)), 0.0);
        qInfo("screenshot: %s", qPrintable(shot));
    }

    // A chip that hung after the run's last frame and was not back by the
    // end: its band still lies inside the chart, which spans the capture.
    // An empty capture beside it says so instead of drawing.
    void aHangAfterTheLastFrameAndAnEmptyCapture() {
        QTemporaryDir dir;
        const QString hung = dir.filePath(u"hung.pcapng"_qs);
        {
            TimedCapture c(hung);
            c.frame(0, kSpeakFrame);
            c.chip(40, kReceived);
            c.event(66'040, u"芯片死机：2026-12-08 03:01:06，无回传 66 秒"_qs);
            c.event(600'000, u"停止"_qs);
        }
        const QString empty = dir.filePath(u"empty.pcapng"_qs);
        TimedCapture(empty).close();
        const QString page = dir.filePath(u"report.html"_qs);
        QCOMPARE(qav::report::writeReport({hung, empty}, page, u"t"_qs).fault,
                 qav::report::ReportOutcome::Fault::None);
        const BrowserRun dom =
            runChromium(chromium_, dir.filePath(u"profile"_qs),
                        {u"--dump-dom"_qs, QUrl::fromLocalFile(page).toString()});
        QVERIFY(dom.finished);
        QCOMPARE(consoleMessages(dom.console), QStringList());
        const QString text = QString::fromUtf8(dom.dom);
        QVERIFY(text.contains(u"<body data-charts-drawn=\"1\""_qs));
        QVERIFY(text.contains(u"No frame in this capture."_qs));

        QString layoutText = QRegularExpression(u"id=\"chart-0\"[^>]*data-layout=\"([^\"]*)\""_qs)
                                 .match(text)
                                 .captured(1);
        layoutText.replace(u"&quot;"_qs, u"\""_qs);
        const QJsonObject layout = QJsonDocument::fromJson(layoutText.toUtf8()).object();
        const QJsonObject area = layout[u"area"_qs].toObject();
        const double x0 = area[u"x"_qs].toDouble(), x1 = x0 + area[u"w"_qs].toDouble();
        const QJsonArray band = layout[u"bands"_qs].toArray()[0].toArray();
        QVERIFY2(band[1].toDouble() > x0 + 0.1 * (x1 - x0) && band[2].toDouble() <= x1 + 1,
                 qPrintable(layoutText));
    }

private:
    QString chromium_;
};

QTEST_GUILESS_MAIN(TestReportBrowser)
#include "tst_report_browser.moc"
