#pragma once
// Test helper: a JUnit report read as a CI server's JUnit reader reads it,
// checking the structure it relies on on the way:
//
//   testsuites > testsuite[name tests failures errors time timestamp]
//                  > properties > property[name value]
//                  > testcase[name classname time] > failure|error[message]
//
// The counts of the suite must match its cases, and every time must be a
// plain decimal number. Anything else is a structural fault, returned as text.

#include <QFile>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

namespace qav::test {

struct JUnitProblem {
    QString kind; // "failure" or "error"
    QString message;
    QString text;
};

struct JUnitCase {
    QString name;
    QString className;
    double seconds = -1;
    QList<JUnitProblem> problems;
};

struct JUnitSuite {
    QMap<QString, QString> attributes;
    QList<QPair<QString, QString>> properties;
    QList<JUnitCase> cases;
    QString property(const QString& name) const {
        for (const auto& [n, v] : properties)
            if (n == name)
                return v;
        return QString();
    }
    qsizetype count(const QString& kind) const {
        qsizetype n = 0;
        for (const auto& c : cases)
            for (const auto& p : c.problems)
                n += p.kind == kind;
        return n;
    }
};

namespace junit_detail {
inline bool isDecimal(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\d+(\\.\\d+)?$"));
    return form.match(text).hasMatch();
}
inline QMap<QString, QString> attributesOf(const QXmlStreamReader& r) {
    QMap<QString, QString> out;
    for (const auto& a : r.attributes())
        out.insert(a.name().toString(), a.value().toString());
    return out;
}
} // namespace junit_detail

// The single suite of the report at path; on a fault, error says what.
inline JUnitSuite readJUnit(const QString& path, QString* error) {
    using namespace junit_detail;
    JUnitSuite suite;
    QStringList faults;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return suite;
    }
    QXmlStreamReader r(&file);
    QStringList path_; // the open elements
    int suites = 0;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            const QString name = r.name().toString();
            const QString parent = path_.isEmpty() ? QString() : path_.last();
            const auto attrs = attributesOf(r);
            path_ << name;
            if (parent.isEmpty() && name != QLatin1String("testsuites"))
                faults << QStringLiteral("root is <%1>").arg(name);
            else if (name == QLatin1String("testsuite")) {
                if (parent != QLatin1String("testsuites"))
                    faults << QStringLiteral("testsuite inside <%1>").arg(parent);
                ++suites;
                suite.attributes = attrs;
                for (const char* a : {"name", "tests", "failures", "errors", "time", "timestamp"})
                    if (!attrs.contains(QLatin1String(a)))
                        faults << QStringLiteral("testsuite without %1").arg(a);
            } else if (name == QLatin1String("properties")) {
                if (parent != QLatin1String("testsuite") || !suite.cases.isEmpty())
                    faults << QStringLiteral("properties not first in testsuite");
            } else if (name == QLatin1String("property")) {
                if (parent != QLatin1String("properties") || !attrs.contains(u"name"_qs) ||
                    !attrs.contains(u"value"_qs))
                    faults << QStringLiteral("property misplaced or without name/value");
                suite.properties.append({attrs.value(u"name"_qs), attrs.value(u"value"_qs)});
            } else if (name == QLatin1String("testcase")) {
                if (parent != QLatin1String("testsuite"))
                    faults << QStringLiteral("testcase inside <%1>").arg(parent);
                for (const char* a : {"name", "classname", "time"})
                    if (!attrs.contains(QLatin1String(a)))
                        faults << QStringLiteral("testcase without %1").arg(a);
                if (!isDecimal(attrs.value(u"time"_qs)))
                    faults << QStringLiteral("testcase time %1").arg(attrs.value(u"time"_qs));
                suite.cases.append({attrs.value(u"name"_qs),
                                    attrs.value(u"classname"_qs),
                                    attrs.value(u"time"_qs).toDouble(),
                                    {}});
            } else if (name == QLatin1String("failure") || name == QLatin1String("error")) {
                if (parent != QLatin1String("testcase") || suite.cases.isEmpty())
                    faults << QStringLiteral("%1 outside a testcase").arg(name);
                else
                    suite.cases.last().problems.append(
                        {name, attrs.value(u"message"_qs),
                         r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement)});
                path_.removeLast(); // readElementText consumed the end element
            } else if (name != QLatin1String("testsuites")) {
                faults << QStringLiteral("unexpected <%1> in <%2>").arg(name, parent);
            }
        } else if (r.isEndElement()) {
            path_.removeLast();
        }
    }
    if (r.hasError())
        faults << r.errorString();
    if (suites != 1)
        faults << QStringLiteral("%1 testsuite elements").arg(suites);
    const auto& a = suite.attributes;
    if (a.value(u"tests"_qs) != QString::number(suite.cases.size()))
        faults << QStringLiteral("tests=%1 for %2 cases")
                      .arg(a.value(u"tests"_qs))
                      .arg(suite.cases.size());
    if (a.value(u"failures"_qs) != QString::number(suite.count(u"failure"_qs)))
        faults << QStringLiteral("failures=%1").arg(a.value(u"failures"_qs));
    if (a.value(u"errors"_qs) != QString::number(suite.count(u"error"_qs)))
        faults << QStringLiteral("errors=%1").arg(a.value(u"errors"_qs));
    if (!isDecimal(a.value(u"time"_qs)))
        faults << QStringLiteral("testsuite time %1").arg(a.value(u"time"_qs));
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"));
    if (!stamp.match(a.value(u"timestamp"_qs)).hasMatch())
        faults << QStringLiteral("timestamp %1").arg(a.value(u"timestamp"_qs));
    *error = faults.join(u"; "_qs);
    return suite;
}

} // namespace qav::test
