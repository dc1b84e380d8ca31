#include "report/report_page.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace qav::report {

namespace {

constexpr const char* kNone = "—";
constexpr int kHistogramBins = 60;
// Marks beyond this many are left off a chart (a script that presses "停止"
// a million times); the page says so.
constexpr qsizetype kMostMarks = 2000;

QString none() {
    return QString::fromUtf8(kNone);
}

QString localTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// 26:03:04
QString clock(qint64 ms) {
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString ms(const std::optional<qint64>& value) {
    return value ? QString::number(*value) + QStringLiteral(" ms") : none();
}

QString orNone(const QString& text) {
    return text.isEmpty() ? none() : text;
}

// The wall-clock time the chart shows for a moment: its local time, as if it
// were UTC (the chart draws UTC), so that the chart and the tables agree.
qint64 chartTime(qint64 utcMs) {
    return utcMs + qint64(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc()) * 1000;
}

QByteArray number(double value) {
    return QByteArray::number(value, 'g', 7);
}

void appendSpread(QByteArray& out, const std::optional<Spread>& s) {
    if (!s) {
        out += "null";
        return;
    }
    out += '[' + number(s->low) + ',' + number(s->mid) + ',' + number(s->high) + ']';
}

// Inside a script element nothing may read as its end tag.
QByteArray scriptSafe(QByteArray json) {
    return json.replace("<", "\\u003c");
}

const char* markKind(Mark::Kind kind) {
    switch (kind) {
    case Mark::Kind::LinkLost:
        return "lost";
    case Mark::Kind::LinkBack:
        return "back";
    case Mark::Kind::Stop:
        return "stop";
    case Mark::Kind::Clear:
        break;
    }
    return "clear";
}

// What the chart draws, as JSON: rows [time, frame→0x41, frame→idle] with
// [low, median, high] for each; bands [silent since, verdict, recovery or
// the end, recovered]; marks [time, kind]; the histogram.
QByteArray chartData(const CapturePage& page) {
    QByteArray rows = "[";
    rows.reserve(qsizetype(page.chart.rows.size()) * 64);
    for (const ChartRow& row : page.chart.rows) {
        if (rows.size() > 1)
            rows += ',';
        rows += '[' + QByteArray::number(chartTime(row.ms)) + ',';
        appendSpread(rows, row.received);
        rows += ',';
        appendSpread(rows, row.idle);
        rows += ']';
    }
    rows += ']';

    const CaptureRun& run = page.run;
    QJsonArray bands;
    for (const Hang& hang : run.hangs)
        bands.append(QJsonArray{
            double(chartTime(hang.silentSinceMs)), double(chartTime(hang.verdictMs)),
            double(chartTime(hang.recoveryMs.value_or(run.lastMs))), hang.recoveryMs.has_value()});
    QJsonArray marks;
    for (std::size_t i = 0; i < run.marks.size() && qsizetype(i) < kMostMarks; ++i)
        marks.append(QJsonArray{double(chartTime(run.marks[i].ms)),
                                QString::fromLatin1(markKind(run.marks[i].kind))});
    QJsonArray counts;
    for (const qint64 c : page.histogram.counts)
        counts.append(double(c));
    const QJsonObject rest{
        {QStringLiteral("bands"), bands},
        {QStringLiteral("marks"), marks},
        {QStringLiteral("bin"), page.histogram.binMs},
        {QStringLiteral("counts"), counts},
        {QStringLiteral("columnMs"), double(page.chart.columnMs)},
        {QStringLiteral("span"),
         QJsonArray{double(chartTime(run.firstMs.value_or(0))), double(chartTime(run.lastMs))}},
    };
    QByteArray json = QJsonDocument(rest).toJson(QJsonDocument::Compact);
    json.insert(1, "\"rows\":" + rows + ',');
    return scriptSafe(json);
}

QByteArray asset(const char* name) {
    QFile file(QStringLiteral(":/report/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    // The page works offline: no pointer to a source map stays in it.
    for (const char* mapLead : {"\n//# sourceMappingURL=", "\n/*# sourceMappingURL="})
        if (const qsizetype at = text.lastIndexOf(mapLead); at >= 0)
            text.truncate(at + 1);
    return text;
}

QString h(const QString& text) {
    return text.toHtmlEscaped();
}

const char* kStyle = R"(
body { font-family: "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei", sans-serif;
       margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.25em; margin-top: 2em; } h3 { font-size: 1.05em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.5em; text-align: left; vertical-align: top; }
th { background: #f2f2f2; }
td.number { text-align: right; white-space: nowrap; }
td.hangs.some { color: #b00; font-weight: bold; }
.chart { width: 100%; height: 360px; } .histogram { width: 100%; height: 220px; }
.legend { min-height: 1.5em; font-size: 0.9em; }
.key span { margin-right: 1.5em; font-size: 0.9em; }
.key i { display: inline-block; width: 1.5em; height: 0.8em; margin-right: 0.3em; vertical-align: middle; }
.note { color: #8a5a00; }
pre { margin: 0; font-size: 0.85em; }
)";

const char* kScript = R"(
(function () {
  'use strict';
  var errors = [];
  window.addEventListener('error', function (e) {
    errors.push(String(e.message));
    document.body.setAttribute('data-errors', errors.join('\n'));
  });
  var colours = {lost: '#d62728', back: '#2ca02c', stop: '#555555', clear: '#9467bd'};
  var drawn = 0;
  document.querySelectorAll('script.capture-data').forEach(function (source) {
    var i = source.getAttribute('data-capture');
    var d = JSON.parse(source.textContent);
    var target = document.getElementById('chart-' + i);
    function say(element, text) {
      element.textContent = text;
      element.style.height = 'auto';
    }
    if (!d.rows.length) {
      say(target, 'No frame in this capture.');
      say(document.getElementById('histogram-' + i), 'No text got an idle reply.');
      return;
    }
    var rows = d.rows.map(function (r) { return [new Date(r[0]), r[1], r[2]]; });
    // The chart spans the whole capture, so that a hang after the last frame shows too.
    if (d.span[0] < d.rows[0][0])
      rows.unshift([new Date(d.span[0]), null, null]);
    if (d.span[1] > d.rows[d.rows.length - 1][0])
      rows.push([new Date(d.span[1]), null, null]);
    var g = new Dygraph(target, rows, {
      labels: ['time', 'frame\u21920x41', 'frame\u2192idle'],
      customBars: true, labelsUTC: true, ylabel: 'ms', legend: 'always',
      labelsDiv: document.getElementById('legend-' + i), labelsSeparateLines: false,
      colors: ['#1f77b4', '#ff7f0e'], drawPoints: rows.length <= 2000, pointSize: 1.5,
      underlayCallback: function (ctx, area, g) {
        d.bands.forEach(function (b) {
          var silent = g.toDomXCoord(b[0]), verdict = g.toDomXCoord(b[1]), end = g.toDomXCoord(b[2]);
          ctx.fillStyle = 'rgba(214, 39, 40, 0.12)';
          ctx.fillRect(silent, area.y, Math.max(verdict - silent, 1), area.h);
          ctx.fillStyle = b[3] ? 'rgba(214, 39, 40, 0.32)' : 'rgba(214, 39, 40, 0.22)';
          ctx.fillRect(verdict, area.y, Math.max(end - verdict, 3), area.h);
        });
        d.marks.forEach(function (m) {
          var x = Math.round(g.toDomXCoord(m[0])) + 0.5;
          ctx.strokeStyle = colours[m[1]];
          ctx.lineWidth = 1.5;
          ctx.setLineDash(m[1] === 'stop' || m[1] === 'clear' ? [4, 3] : []);
          ctx.beginPath();
          ctx.moveTo(x, area.y);
          ctx.lineTo(x, area.y + area.h);
          ctx.stroke();
        });
        ctx.setLineDash([]);
      },
      drawCallback: function (g, initial) {
        // Where the chart and its bands are, in page pixels, for tools that check it.
        var rect = target.getBoundingClientRect();
        target.setAttribute('data-layout', JSON.stringify({
          left: rect.left + window.scrollX, top: rect.top + window.scrollY, area: g.getArea(),
          range: g.xAxisRange(), bands: d.bands.map(function (b) {
            return [g.toDomXCoord(b[0]), g.toDomXCoord(b[1]), g.toDomXCoord(b[2])];
          })
        }));
        if (initial) {
          target.setAttribute('data-drawn', '1');
          drawn++;
        }
      }
    });
    var log = document.getElementById('log-' + i);
    log.addEventListener('change', function () { g.updateOptions({logscale: log.checked}); });
    document.querySelectorAll('a.zoom[data-capture="' + i + '"]').forEach(function (a) {
      a.addEventListener('click', function (e) {
        e.preventDefault();
        var b = d.bands[Number(a.getAttribute('data-hang'))];
        var pad = Math.max((b[2] - b[0]) / 2, 60000);
        g.updateOptions({dateWindow: [b[0] - pad, b[2] + pad]});
        target.scrollIntoView();
      });
    });
    if (d.counts.length) {
      var from = 0;
      while (d.counts[from] === 0)
        from++;
      var bars = d.counts.slice(from).map(function (c, k) { return [(from + k) * d.bin, c]; });
      bars.push([d.counts.length * d.bin, 0]);
      new Dygraph(document.getElementById('histogram-' + i), bars, {
        labels: ['frame\u2192idle (ms)', 'frames'], stepPlot: true, fillGraph: true,
        fillAlpha: 0.5, colors: ['#ff7f0e'], xlabel: 'frame\u2192idle, ms', ylabel: 'frames',
        legend: 'always', labelsDiv: document.getElementById('histogram-legend-' + i),
        includeZero: true
      });
    } else {
      say(document.getElementById('histogram-' + i), 'No text got an idle reply.');
    }
  });
  document.body.setAttribute('data-charts-drawn', String(drawn));
  document.body.setAttribute('data-drawn-ms', String(Math.round(performance.now())));
})();
)";

QString summaryTable(const QList<CapturePage>& captures) {
    QString s = QStringLiteral(
        "<table id=\"summary\">\n<thead><tr><th rowspan=\"2\">capture</th><th "
        "rowspan=\"2\">test</th><th rowspan=\"2\">port</th><th rowspan=\"2\">baud</th><th "
        "rowspan=\"2\">start</th><th rowspan=\"2\">duration</th><th rowspan=\"2\">steps</th><th "
        "rowspan=\"2\">hangs</th><th rowspan=\"2\">mean time between hangs</th>"
        "<th colspan=\"3\">frame→0x41</th><th colspan=\"3\">frame→idle</th></tr>\n"
        "<tr><th>median</th><th>99th</th><th>max</th><th>median</th><th>99th</th><th>max</th>"
        "</tr></thead>\n<tbody>\n");
    for (qsizetype i = 0; i < captures.size(); ++i) {
        s += QStringLiteral("<tr id=\"summary-%1\">").arg(i);
        const auto cells = summaryCells(captures[i].run);
        for (qsizetype c = 0; c < cells.size(); ++c) {
            const auto& [cls, text] = cells[c];
            QString classes = cls;
            if (c >= 5)
                classes += QStringLiteral(" number");
            if (cls == QLatin1String("hangs") && text != QLatin1String("0"))
                classes += QStringLiteral(" some");
            const QString value =
                c == 0 ? QStringLiteral("<a href=\"#capture-%1\">%2</a>").arg(i).arg(h(text))
                       : h(text);
            s += QStringLiteral("<td class=\"%1\">%2</td>").arg(classes, value);
        }
        s += QStringLiteral("</tr>\n");
    }
    return s + QStringLiteral("</tbody></table>\n");
}

QStringList notes(const CapturePage& page) {
    const CaptureRun& run = page.run;
    QStringList out;
    if (run.end == CaptureReader::End::Torn)
        out << QStringLiteral("The capture ends in the middle of a block (still being written, "
                              "or its program was stopped): read up to byte %1 of %2.")
                   .arg(run.wholeBytes)
                   .arg(run.fileBytes);
    if (run.end == CaptureReader::End::Damaged)
        out << QStringLiteral("The capture is damaged at byte %1 of %2: read up to there.")
                   .arg(run.wholeBytes)
                   .arg(run.fileBytes);
    if (run.lostPackets > 0)
        out << QStringLiteral("The capture notes %1 packets it could not write.")
                   .arg(run.lostPackets);
    if (!run.start)
        out << QStringLiteral("The capture does not say which test, port and baud it was.");
    if (page.chart.columnMs > 0)
        out << QStringLiteral("%1 frames, drawn in columns of %2 s: each shows the smallest, the "
                              "median and the largest time of its frames.")
                   .arg(page.chart.frames)
                   .arg(double(page.chart.columnMs) / 1000, 0, 'f', 1);
    if (qsizetype(run.marks.size()) > kMostMarks)
        out << QStringLiteral("The chart marks the first %1 of %2 events.")
                   .arg(kMostMarks)
                   .arg(run.marks.size());
    if (page.histogram.beyond > 0)
        out << QStringLiteral("The histogram leaves out %1 frames longer than %2 ms (the "
                              "longest: %3 ms).")
                   .arg(page.histogram.beyond)
                   .arg(double(page.histogram.counts.size()) * page.histogram.binMs)
                   .arg(qRound64(page.histogram.longest));
    return out;
}

QString hangTable(qsizetype capture, const CaptureRun& run) {
    if (run.hangs.isEmpty())
        return QStringLiteral("<p class=\"no-hangs\">No hang.</p>\n");
    QString s = QStringLiteral("<table class=\"hangs\">\n<thead><tr><th>#</th><th>verdict</th>"
                               "<th>recovery</th><th>silence</th><th>the last frames before "
                               "it</th></tr></thead>\n<tbody>\n");
    for (qsizetype i = 0; i < run.hangs.size(); ++i) {
        const Hang& hang = run.hangs[i];
        const qint64 silence = hang.recoveryMs.value_or(run.lastMs) - hang.silentSinceMs;
        QString silenceText = QStringLiteral("%1 s").arg(silence / 1000);
        if (!hang.recoveryMs)
            silenceText += QStringLiteral(" to the end of the capture");
        s += QStringLiteral("<tr><td><a class=\"zoom\" href=\"#chart-%1\" data-capture=\"%1\" "
                            "data-hang=\"%2\">%3</a></td><td class=\"verdict\">%4</td>"
                            "<td class=\"recovery\">%5</td><td class=\"silence number\">%6</td>"
                            "<td><pre>%7</pre></td></tr>\n")
                 .arg(capture)
                 .arg(i)
                 .arg(i + 1)
                 .arg(h(hang.verdict),
                      hang.recoveryMs ? h(hang.recovery)
                                      : QStringLiteral("not recovered by the end of the capture"),
                      h(silenceText), h(hang.lastFrames.join(u'\n')));
    }
    return s + QStringLiteral("</tbody></table>\n");
}

QString eventTable(const CaptureRun& run) {
    if (run.marks.empty())
        return {};
    QString s = QStringLiteral("<details><summary>Events (%1)</summary><table class=\"events\">"
                               "<thead><tr><th>time</th><th>event</th></tr></thead><tbody>\n")
                    .arg(run.marks.size());
    for (std::size_t i = 0; i < run.marks.size() && qsizetype(i) < kMostMarks; ++i)
        s += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>\n")
                 .arg(localTime(run.marks[i].ms), h(run.marks[i].text));
    return s + QStringLiteral("</tbody></table></details>\n");
}

QString captureSection(qsizetype i, const CapturePage& page) {
    const CaptureRun& run = page.run;
    QString s = QStringLiteral("<section id=\"capture-%1\">\n<h2>%2</h2>\n")
                    .arg(i)
                    .arg(h(QFileInfo(run.path).fileName()));
    s +=
        QStringLiteral("<p class=\"path\">%1</p>\n").arg(h(QFileInfo(run.path).absoluteFilePath()));
    for (const QString& note : notes(page))
        s += QStringLiteral("<p class=\"note\">%1</p>\n").arg(h(note));
    s += QStringLiteral(
             "<h3>Reply times</h3>\n<div class=\"legend\" id=\"legend-%1\"></div>\n"
             "<div class=\"chart\" id=\"chart-%1\"></div>\n<p class=\"key\">"
             "<span><i style=\"background:rgba(214,39,40,0.12)\"></i>the chip silent before a "
             "verdict</span><span><i style=\"background:rgba(214,39,40,0.32)\"></i>芯片死机 → "
             "芯片已恢复</span><span><i style=\"border-top:2px solid #d62728\"></i>link lost</span>"
             "<span><i style=\"border-top:2px solid #2ca02c\"></i>link back</span>"
             "<span><i style=\"border-top:2px dashed #555555\"></i>停止</span>"
             "<span><i style=\"border-top:2px dashed #9467bd\"></i>清空</span>"
             "<label><input type=\"checkbox\" id=\"log-%1\"> log scale</label></p>\n"
             "<p class=\"key\">Drag to zoom, shift-drag to pan, double-click for the whole "
             "run.</p>\n"
             "<h3>frame→idle</h3>\n<div class=\"legend\" id=\"histogram-legend-%1\"></div>\n"
             "<div class=\"histogram\" id=\"histogram-%1\"></div>\n<h3>Hangs</h3>\n")
             .arg(i);
    s += hangTable(i, run);
    s += eventTable(run);
    return s + QStringLiteral("</section>\n");
}

} // namespace

CapturePage pageOf(CaptureRun run, int chartColumns) {
    CapturePage page;
    page.chart = reduceToColumns(run.frames, chartColumns);
    page.histogram = idleHistogram(run.frames, kHistogramBins);
    run.frames = {};
    page.run = std::move(run);
    return page;
}

QList<QPair<QString, QString>> summaryCells(const CaptureRun& run) {
    const auto& start = run.start;
    return {
        {QStringLiteral("capture"), QFileInfo(run.path).fileName()},
        {QStringLiteral("test"), start ? orNone(start->test) : none()},
        {QStringLiteral("port"), start ? orNone(start->port) : none()},
        {QStringLiteral("baud"), start ? orNone(start->baud()) : none()},
        {QStringLiteral("start"), run.firstMs ? localTime(*run.firstMs) : none()},
        {QStringLiteral("duration"), run.firstMs ? clock(run.durationMs()) : none()},
        {QStringLiteral("steps"), QString::number(run.steps)},
        {QStringLiteral("hangs"), QString::number(run.hangs.size())},
        {QStringLiteral("mtbh"),
         run.meanTimeBetweenHangsMs() ? clock(*run.meanTimeBetweenHangsMs()) : none()},
        {QStringLiteral("received-median"), ms(run.toReceived.percentile(50))},
        {QStringLiteral("received-p99"), ms(run.toReceived.percentile(99))},
        {QStringLiteral("received-max"), ms(run.toReceived.max())},
        {QStringLiteral("idle-median"), ms(run.toIdle.percentile(50))},
        {QStringLiteral("idle-p99"), ms(run.toIdle.percentile(99))},
        {QStringLiteral("idle-max"), ms(run.toIdle.max())},
    };
}

QString hangText(const Hang& hang) {
    QString text = hang.verdict + u'\n';
    if (hang.recoveryMs)
        text += hang.recovery + u'\n';
    return text + QStringLiteral("the last frames before it:\n") + hang.lastFrames.join(u'\n');
}

QByteArray reportPage(const QList<CapturePage>& captures, const PageMaker& maker) {
    QString title = QStringLiteral("QAV7120 report");
    if (captures.size() == 1)
        title += QStringLiteral(": ") + QFileInfo(captures.first().run.path).fileName();
    QByteArray page = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<title>" + h(title).toUtf8() + "</title>\n<style>\n" + asset("dygraph.min.css") +
            kStyle + "</style>\n<script>\n" + asset("dygraph.min.js") +
            "</script>\n</head>\n<body>\n";
    QString body = QStringLiteral("<h1>%1</h1>\n<p class=\"made\">Made by %2 at %3 from %4 "
                                  "capture%5. Times are local to the machine that made it.</p>\n")
                       .arg(h(title), h(maker.program),
                            maker.madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                       .arg(captures.size())
                       .arg(captures.size() == 1 ? QString() : QStringLiteral("s"));
    body += summaryTable(captures);
    for (qsizetype i = 0; i < captures.size(); ++i)
        body += captureSection(i, captures[i]);
    page += body.toUtf8();
    for (qsizetype i = 0; i < captures.size(); ++i)
        page += "<script type=\"application/json\" class=\"capture-data\" data-capture=\"" +
                QByteArray::number(i) + "\">" + chartData(captures[i]) + "</script>\n";
    page += QByteArray("<script>") + kScript + "</script>\n</body>\n</html>\n";
    return page;
}

} // namespace qav::report
