// The page's parts: a night's frames reduced to columns without losing a
// spike, the histogram, a page that needs nothing from outside and cannot be
// broken by what a capture holds, and several captures on one page.
#include "report/column_reduction.h"
#include "report/report.h"
#include "report/report_page.h"
#include "report_helpers.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace qav::report;
using namespace qav::test;

namespace {

FrameRecord spoken(qint64 ms, float received, float idle) {
    FrameRecord f;
    f.sentMs = ms;
    f.msToReceived = received;
    f.msToIdle = idle;
    f.hasCommand = true;
    f.command = 0x01;
    f.spoken = true;
    return f;
}

QString spread(const std::optional<Spread>& s) {
    return s ? QStringLiteral("%1/%2/%3").arg(s->low).arg(s->mid).arg(s->high) : u"-"_qs;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestReportPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useChinaTime(); }

    void aSpikeSurvivesTheReduction() {
        // 10,000 frames, one every 100 ms, 2000 ms to idle but one of 9000 ms
        // and one of 1500; 100 columns of 10 s, 100 frames each.
        std::vector<FrameRecord> frames;
        for (int i = 0; i < 10'000; ++i)
            frames.push_back(spoken(1'000'000 + i * 100, 40 + i % 3, 2000));
        frames[4321].msToIdle = 9000;
        frames[4322].msToIdle = 1500;
        frames[5000].msToReceived = NAN; // no 0x41 for this one
        const ReducedChart chart = reduceToColumns(frames, 100);
        QCOMPARE(chart.columnMs, 10'000);
        QCOMPARE(chart.frames, 10'000);
        QCOMPARE(chart.rows.size(), std::size_t(100));
        QCOMPARE(chart.rows[0].ms, 1'005'000);
        QCOMPARE(spread(chart.rows[0].received), u"40/41/42"_qs);
        QCOMPARE(spread(chart.rows[0].idle), u"2000/2000/2000"_qs);
        QCOMPARE(spread(chart.rows[43].idle), u"1500/2000/9000"_qs);
        // The one frame without a reply leaves its column's others.
        QCOMPARE(spread(chart.rows[50].received), u"40/41/42"_qs);

        // Fewer frames than columns: each frame a row; a stop's idle is no text's.
        std::vector<FrameRecord> few{spoken(5, 41, 2100), spoken(9, 43, NAN)};
        few.push_back(spoken(12, 30, 80));
        few.back().spoken = false;
        const ReducedChart raw = reduceToColumns(few, 100);
        QCOMPARE(raw.columnMs, 0);
        QCOMPARE(raw.rows.size(), std::size_t(3));
        QCOMPARE(spread(raw.rows[0].idle), u"2100/2100/2100"_qs);
        QCOMPARE(spread(raw.rows[1].idle), u"-"_qs);
        QCOMPARE(spread(raw.rows[2].received), u"30/30/30"_qs);
        QCOMPARE(spread(raw.rows[2].idle), u"-"_qs);
        QVERIFY(reduceToColumns({}, 100).rows.empty());
    }

    void theHistogram() {
        std::vector<FrameRecord> frames;
        for (int i = 0; i < 1000; ++i)
            frames.push_back(spoken(i, 40, 2000 + float(i % 10) * 60)); // 2000 .. 2540
        Histogram h = idleHistogram(frames, 60);
        QCOMPARE(h.binMs, 50.0);
        QCOMPARE(h.counts.size(), std::size_t(51)); // up to 2550
        QCOMPARE(h.counts[40], 100);                // 2000
        QCOMPARE(h.counts[41], 100);                // 2060
        QCOMPARE(h.counts[50], 100);                // 2540
        QCOMPARE(h.beyond, 0);
        // A hang's frame, minutes long, is left out and counted.
        frames.push_back(spoken(2000, 40, 400'000));
        h = idleHistogram(frames, 60);
        QCOMPARE(h.beyond, 1);
        QCOMPARE(h.longest, 400'000.0f);
        QCOMPARE(h.binMs, 100.0); // two 99th percentiles, 5080 ms, in 60 bins

        // A clock set back under a run: times below zero count in the first bin.
        h = idleHistogram({spoken(0, 40, -5000), spoken(1, 40, -20)}, 60);
        QCOMPARE(h.counts, std::vector<qint64>{2});
        QCOMPARE(h.beyond, 0);
    }

    // Everything the page shows is in the file; nothing in a capture can end
    // a script or add markup.
    void aPageThatStandsAlone() {
        QTemporaryDir dir;
        const QString capture = dir.filePath(u"c.pcapng"_qs);
        {
            TimedCapture c(capture);
            c.frame(0, kSpeakFrame);
            c.chip(40, kReceived);
            c.event(100, u"串口COM1已断开：</script><script>alert(1)</script><b>"_qs);
            c.event(200, u"芯片死机：<img src=x onerror=alert(2)>"_qs);
        }
        const QString pagePath = dir.filePath(u"page.html"_qs);
        QCOMPARE(writeReport({capture}, pagePath, u"t"_qs).fault, ReportOutcome::Fault::None);
        const QByteArray page = readAll(pagePath);
        QVERIFY(page.startsWith("<!DOCTYPE html>"));
        QVERIFY(page.contains("<meta charset=\"utf-8\">"));
        QVERIFY(page.contains("@license https://github.com/danvk/dygraphs")); // inlined
        QVERIFY(page.contains(".dygraph-legend"));
        QVERIFY(!page.contains("sourceMappingURL"));
        QVERIFY(!QRegularExpression(u"<(script|img|link|iframe)[^>]+(src|href)="_qs)
                     .match(QString::fromUtf8(page))
                     .hasMatch());
        QCOMPARE(page.count("<script"), 3); // the library, the data, the drawing
        QCOMPARE(page.count("</script>"), 3);
        QVERIFY(page.contains("&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;&lt;b&gt;"));
        QVERIFY(page.contains("芯片死机：&lt;img src=x onerror=alert(2)&gt;"));
        QVERIFY(!page.mid(page.indexOf("</head>")).contains("<b>"));
    }

    void severalCapturesOnOnePage() {
        QTemporaryDir dir;
        const QString first = dir.filePath(u"LOG-capture-20261208-030000-1.pcapng"_qs);
        const QString second = dir.filePath(u"LOG-capture-20261208-040000-2.pcapng"_qs);
        const QString empty = dir.filePath(u"LOG-capture-20261208-050000-3.pcapng"_qs);
        writeCrashRunWithAHang(first);
        writeHourWithTwoHangs(second, kRunStartMs + 3'600'000);
        TimedCapture(empty).close(); // the headers and nothing else
        const QString pagePath = dir.filePath(u"page.html"_qs);
        const auto outcome = writeReport({first, second, empty}, pagePath, u"t"_qs);
        QCOMPARE(outcome.fault, ReportOutcome::Fault::None);
        QVERIFY(outcome.notices.isEmpty());
        const QString page = QString::fromUtf8(readAll(pagePath));
        const auto rows =
            QRegularExpression(u"<tr id=\"summary-(\\d)\">(.*)</tr>"_qs).globalMatch(page);
        QStringList hangs;
        for (auto it = rows; it.hasNext();)
            hangs << QRegularExpression(u"<td class=\"hangs[^\"]*\">(\\d+)</td>"_qs)
                         .match(it.next().captured(2))
                         .captured(1);
        QCOMPARE(hangs, (QStringList{u"1"_qs, u"2"_qs, u"0"_qs}));
        QCOMPARE(page.count(u"class=\"chart\""_qs), 3);
        QCOMPARE(page.count(u"class=\"capture-data\""_qs), 3);
        QVERIFY(page.contains(u"<td class=\"start\">2026-12-08 04:00:00</td>"_qs));
        // The empty capture: no test, no start, no times.
        QVERIFY(page.contains(u"<td class=\"test\">—</td>"_qs));
        QVERIFY(page.contains(u"<td class=\"start\">—</td>"_qs));
        QVERIFY(page.contains(u"<td class=\"idle-median number\">—</td>"_qs));
        QVERIFY(chartColumns(3) * 3 <= 60'000);

        // A capture that is not there: no page at all.
        QFile::remove(pagePath);
        const auto missing = writeReport({first, dir.filePath(u"gone.pcapng"_qs)}, pagePath, {});
        QCOMPARE(missing.fault, ReportOutcome::Fault::Capture);
        QVERIFY(missing.message.endsWith(u"gone.pcapng: no such file"_qs));
        QVERIFY(!QFile::exists(pagePath));
        const auto unwritable = writeReport({first}, dir.filePath(u"no/such/page.html"_qs), {});
        QCOMPARE(unwritable.fault, ReportOutcome::Fault::Page);
    }
};

QTEST_GUILESS_MAIN(TestReportPage)
#include "tst_report_page.moc"
