#include "runner/junit_report.h"

#include <QDir>
#include <QSaveFile>
#include <QSysInfo>
#include <QXmlStreamReader>

namespace qav::runner {

namespace {
constexpr const char* kHangType = "ChipHang";
constexpr const char* kLinkType = "LinkLost";

QString seconds(double value) {
    return QString::number(value, 'f', 3);
}
} // namespace

std::optional<QString> JUnitReport::open(const QString& className) {
    className_ = className;
    spool_.setFileTemplate(QDir::temp().filePath(QStringLiteral("qav7120-run-junit-XXXXXX.xml")));
    if (!spool_.open())
        return spool_.errorString();
    spoolWriter_.setDevice(&spool_);
    spoolWriter_.setAutoFormatting(true);
    spoolWriter_.writeStartElement(QStringLiteral("cases"));
    return std::nullopt;
}

void JUnitReport::beginCase(const QString& name, qint64 atMs) {
    endCase(atMs);
    current_ = Case{name, atMs, {}};
}

void JUnitReport::addFailure(const QString& verdict, const QString& text) {
    if (!current_)
        current_ = Case{QStringLiteral("before the first step"), 0, {}};
    current_->problems.append({true, verdict, text});
    ++failures_;
}

void JUnitReport::recovered(const QString& line) {
    if (!current_)
        return;
    for (qsizetype i = current_->problems.size() - 1; i >= 0; --i)
        if (current_->problems[i].failure) {
            Problem& p = current_->problems[i];
            p.text.insert(p.text.indexOf(u'\n') + 1, line + u'\n');
            return;
        }
}

void JUnitReport::addError(const QString& message, const QString& text) {
    if (!current_)
        current_ = Case{QStringLiteral("before the first step"), 0, {}};
    current_->problems.append({false, message, text});
    ++errors_;
}

void JUnitReport::endCase(qint64 endMs) {
    if (!current_)
        return;
    const Case c = *std::exchange(current_, std::nullopt);
    if (!spool_.isOpen())
        return;
    spoolWriter_.writeStartElement(QStringLiteral("testcase"));
    spoolWriter_.writeAttribute(QStringLiteral("name"), c.name);
    spoolWriter_.writeAttribute(QStringLiteral("classname"), className_);
    spoolWriter_.writeAttribute(QStringLiteral("time"),
                                seconds(double(std::max<qint64>(endMs - c.startMs, 0)) / 1000));
    for (const Problem& p : c.problems) {
        spoolWriter_.writeStartElement(p.failure ? QStringLiteral("failure")
                                                 : QStringLiteral("error"));
        spoolWriter_.writeAttribute(QStringLiteral("message"), p.message);
        spoolWriter_.writeAttribute(QStringLiteral("type"),
                                    QString::fromLatin1(p.failure ? kHangType : kLinkType));
        spoolWriter_.writeCharacters(p.text);
        spoolWriter_.writeEndElement();
    }
    spoolWriter_.writeEndElement();
    ++cases_;
}

// testsuites and testsuite with their counts, and the suite's properties.
void JUnitReport::writeSuiteHead(QXmlStreamWriter& w, const Suite& suite) const {
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), suite.name);
    w.writeAttribute(QStringLiteral("tests"), QString::number(cases_));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures_));
    w.writeAttribute(QStringLiteral("errors"), QString::number(errors_));
    w.writeAttribute(QStringLiteral("time"), seconds(suite.seconds));
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), suite.name);
    w.writeAttribute(QStringLiteral("tests"), QString::number(cases_));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures_));
    w.writeAttribute(QStringLiteral("errors"), QString::number(errors_));
    w.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("time"), seconds(suite.seconds));
    w.writeAttribute(QStringLiteral("timestamp"), suite.timestamp);
    w.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
    w.writeStartElement(QStringLiteral("properties"));
    for (const auto& [name, value] : suite.properties) {
        w.writeStartElement(QStringLiteral("property"));
        w.writeAttribute(QStringLiteral("name"), name);
        w.writeAttribute(QStringLiteral("value"), value);
        w.writeEndElement();
    }
    w.writeEndElement();
}

// The spooled cases, token by token, without their wrapper.
std::optional<QString> JUnitReport::copySpooledCases(QXmlStreamWriter& w) {
    spool_.seek(0);
    QXmlStreamReader r(&spool_);
    int depth = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && ++depth == 1)
            continue;
        if (r.isEndElement() && depth-- == 1)
            continue;
        if (depth >= 1 && (r.isStartElement() || r.isEndElement() || r.isCharacters()) &&
            !r.isWhitespace())
            w.writeCurrentToken(r);
    }
    if (r.hasError())
        return QStringLiteral("the spool %1 could not be read: %2")
            .arg(spool_.fileName(), r.errorString());
    return std::nullopt;
}

std::optional<QString> JUnitReport::write(const QString& path, const Suite& suite, qint64 endMs) {
    endCase(endMs);
    if (!spool_.isOpen())
        return QStringLiteral("no spool");
    spoolWriter_.writeEndDocument();
    if (!spool_.flush())
        return spool_.errorString();
    if (spoolWriter_.hasError())
        return QStringLiteral("the spool %1 could not be written").arg(spool_.fileName());

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    writeSuiteHead(w, suite);
    if (const auto fault = copySpooledCases(w))
        return fault;
    w.writeEndDocument();
    if (w.hasError() || !out.commit())
        return out.errorString();
    return std::nullopt;
}

} // namespace qav::runner
