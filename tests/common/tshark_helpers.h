#pragma once
// Reading a capture as an engineer does: tshark with the console's dissector
// (packaging/wireshark/qav7120.lua from the source tree, its BIG5 table from
// the build's bin folder), one row of field texts per packet.
//
//   QAV_REQUIRE_TSHARK();   // skips when tshark is not installed, fails when it cannot be used
//   const auto run = qav::test::tsharkFields(path, {"frame.number", "qav7120.cmd"});
//   QCOMPARE(run.rows[0], (QStringList{"1", "0x02"}));
//
// tshark is the one on PATH (or $QAV_TSHARK). It runs with an empty HOME and
// plugin folder, so that a personal profile or an installed copy of the
// dissector does not decide what the tests see. As root, tshark loads the
// installed plugins whatever the environment says, and some builds refuse
// Lua scripts given on the command line; then it runs as nobody
// (setpriv), on copies of the capture and the dissector that nobody can read.
// QAV_TSHARK_AS_NOBODY=1 forces that way, to try it.
//
// Header-only, so tests of any room can use them; needs QAV_SOURCE_DIR and
// QAV_BIN_DIR (tests/CMakeLists.txt defines both).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

namespace qav::test {

struct TsharkSetup {
    QString program;   // empty when tshark is not installed
    QString dissector; // the qav7120.lua tshark loads
    QString big5Table; // its BIG5 table
    QStringList runAs; // what runs tshark: empty, or setpriv ... as nobody
    QString problem;   // why tshark cannot decode with the dissector; empty when it can
    std::shared_ptr<QTemporaryDir> home; // HOME and plugin folder of the runs, and copies
};

struct TsharkOutput {
    int exitCode = -1;
    QByteArray out, err;
    QList<QStringList> rows; // tsharkFields: one list of field texts per packet

    // "Lua Error" anywhere in what tshark printed: the dissector raised one.
    bool luaError() const {
        return out.contains("Lua Error") || err.contains("Lua Error") ||
               out.contains("[Lua Error") || err.contains("[Lua Error");
    }
    QString diagnosis() const {
        return QStringLiteral("tshark exit %1; stderr: %2")
            .arg(exitCode)
            .arg(QString::fromUtf8(err.left(2000)));
    }
};

namespace tshark_detail {

inline QString findTshark() {
    const QString chosen = qEnvironmentVariable("QAV_TSHARK");
    if (!chosen.isEmpty())
        return chosen;
    return QStandardPaths::findExecutable(QStringLiteral("tshark"));
}

inline QProcessEnvironment environment(const TsharkSetup& setup) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = setup.home->path();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("WIRESHARK_CONFIG_DIR"), home + QStringLiteral("/.config/wireshark"));
    env.insert(QStringLiteral("WIRESHARK_PLUGIN_DIR"), home + QStringLiteral("/plugins"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

// tshark [first] -X lua_script:DISSECTOR -X lua_script1:TABLE [arguments]; -G
// must come first.
inline TsharkOutput run(const TsharkSetup& setup, const QStringList& arguments,
                        const QStringList& first = {}) {
    QStringList all = setup.runAs;
    all << setup.program << first << QStringLiteral("-X")
        << QStringLiteral("lua_script:") + setup.dissector << QStringLiteral("-X")
        << QStringLiteral("lua_script1:") + setup.big5Table << arguments;
    QProcess p;
    p.setProcessEnvironment(environment(setup));
    p.setWorkingDirectory(setup.home->path());
    p.start(all.takeFirst(), all);
    TsharkOutput output;
    if (!p.waitForStarted(10'000)) {
        output.err = p.errorString().toUtf8();
        return output;
    }
    p.closeWriteChannel();
    p.waitForFinished(240'000);
    output.out = p.readAllStandardOutput();
    output.err = p.readAllStandardError();
    output.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return output;
}

// Whether tshark, run this way, has the protocol of the dissector.
inline bool dissectorLoads(const TsharkSetup& setup) {
    const TsharkOutput o = run(setup, {}, {QStringLiteral("-G"), QStringLiteral("protocols")});
    return o.exitCode == 0 && o.out.contains("\tqav7120\n") && !o.luaError();
}

// The folder tshark names for global Lua plugins.
inline QString globalLuaPlugins(const TsharkSetup& setup) {
    const TsharkOutput o = run(setup, {}, {QStringLiteral("-G"), QStringLiteral("folders")});
    for (const QByteArray& line : o.out.split('\n')) {
        if (line.startsWith("Global Lua Plugins:"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return {};
}

// As nobody: copies of the dissector and its table where nobody reads them.
inline bool runAsNobody(TsharkSetup& setup) {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        return false;
    const QString home = setup.home->path();
    QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup);
    const QString dissector = home + QStringLiteral("/qav7120.lua");
    const QString table = home + QStringLiteral("/qav7120-big5.tbl");
    QFile::remove(dissector);
    QFile::remove(table);
    if (!QFile::copy(setup.dissector, dissector) || !QFile::copy(setup.big5Table, table))
        return false;
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(dissector, readable);
    QFile::setPermissions(table, readable);
    setup.dissector = dissector;
    setup.big5Table = table;
    setup.runAs = {setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   QStringLiteral("--clear-groups"), QStringLiteral("--")};
    return true;
}

inline TsharkSetup probe() {
    TsharkSetup setup;
    setup.program = findTshark();
    setup.dissector = QStringLiteral(QAV_SOURCE_DIR "/packaging/wireshark/qav7120.lua");
    setup.big5Table = QStringLiteral(QAV_BIN_DIR "/qav7120-big5.tbl");
    if (setup.program.isEmpty()) {
        setup.problem =
            QStringLiteral("tshark is not installed (scripts/install-deps installs it)");
        return setup;
    }
    if (!QFileInfo::exists(setup.big5Table)) {
        setup.problem = QStringLiteral("no BIG5 table at %1: build the target qav_big5_table")
                            .arg(setup.big5Table);
        return setup;
    }
    setup.home = std::make_shared<QTemporaryDir>();
    QDir(setup.home->path()).mkpath(QStringLiteral("plugins"));
    QDir(setup.home->path()).mkpath(QStringLiteral(".config/wireshark"));
    if (::geteuid() == 0) {
        const QString installed = globalLuaPlugins(setup) + QStringLiteral("/qav7120.lua");
        const bool shadowed = QFileInfo::exists(installed);
        if ((shadowed || qEnvironmentVariableIntValue("QAV_TSHARK_AS_NOBODY") ||
             !dissectorLoads(setup)) &&
            !runAsNobody(setup)) {
            setup.problem = QStringLiteral("as root tshark does not load the dissector under "
                                           "test, and it cannot be run as nobody (setpriv)");
            return setup;
        }
    }
    if (!dissectorLoads(setup))
        setup.problem =
            QStringLiteral("tshark (%1) does not load %2").arg(setup.program, setup.dissector);
    return setup;
}

} // namespace tshark_detail

inline const TsharkSetup& tsharkSetup() {
    static const TsharkSetup setup = tshark_detail::probe();
    return setup;
}

// tshark -r capture with the dissector and the arguments after it. When
// tshark runs as nobody, it reads a copy of the capture.
inline TsharkOutput runTshark(const QString& capture, const QStringList& arguments) {
    const TsharkSetup& setup = tsharkSetup();
    QString path = capture;
    if (!setup.runAs.isEmpty()) {
        path = setup.home->path() + QStringLiteral("/capture.pcapng");
        QFile::remove(path);
        QFile::copy(capture, path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    return tshark_detail::run(setup, QStringList{QStringLiteral("-r"), path} + arguments);
}

// The fields of every packet (that passes displayFilter), one row each;
// several values of one field in a packet are joined with ",".
inline TsharkOutput tsharkFields(const QString& capture, const QStringList& fields,
                                 const QString& displayFilter = QString()) {
    QStringList arguments{QStringLiteral("-T"), QStringLiteral("fields"),
                          QStringLiteral("-E"), QStringLiteral("separator=/t"),
                          QStringLiteral("-E"), QStringLiteral("occurrence=a"),
                          QStringLiteral("-E"), QStringLiteral("aggregator=,")};
    for (const QString& field : fields)
        arguments << QStringLiteral("-e") << field;
    if (!displayFilter.isEmpty())
        arguments << QStringLiteral("-Y") << displayFilter;
    TsharkOutput output = runTshark(capture, arguments);
    for (const QByteArray& line : output.out.split('\n')) {
        if (!line.isEmpty())
            output.rows << QString::fromUtf8(line).split(QLatin1Char('\t'));
    }
    return output;
}

} // namespace qav::test

// At the start of a test that reads captures with tshark.
#define QAV_REQUIRE_TSHARK()                                                                       \
    do {                                                                                           \
        const auto& tsharkSetup_ = qav::test::tsharkSetup();                                       \
        if (tsharkSetup_.program.isEmpty())                                                        \
            QSKIP(qPrintable(tsharkSetup_.problem));                                               \
        if (!tsharkSetup_.problem.isEmpty())                                                       \
            QFAIL(qPrintable(tsharkSetup_.problem));                                               \
    } while (false)
