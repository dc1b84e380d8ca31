// The work log's entries as the session writes them: one entry per frame
// however long it is, and the "0x" prefix from the next entry on.
#include "session_helpers.h"

#include <QTest>

using namespace qav;
using namespace qav::test;

class TestLogEntries : public QObject {
    Q_OBJECT
private slots:
    void longFrameIsOneEntry() {
        SessionFixture s;
        const QByteArray frame(3005, '\x41');
        s.session().sendFrame(frame);
        QVERIFY(s.log().startsWith(QStringLiteral("发出一帧，字节数  3005\r\n----> 41 41 ")));
        QCOMPARE(s.log().count(QStringLiteral("\r\n")), 2);
        QCOMPARE(s.log(), frameEntry(frame));
        // Exactly the bytes handed over are logged.
        s.session().clearWorkLog();
        s.session().sendFrame(QByteArray("\x01\x02", 2));
        QCOMPARE(s.log(), QStringLiteral("发出一帧，字节数  2\r\n----> 01 02 \r\n"));
    }

    void prefixAppliesToLaterEntriesOnly() {
        SessionFixture s;
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Stop));
        s.session().setHexPrefixShown(true);
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Pause));
        s.session().setHexPrefixShown(false);
        s.session().sendFrame(protocol::commandFrame(protocol::Command::Resume));
        QCOMPARE(s.log(),
                 kStopEntry + QStringLiteral("发出一帧，字节数  4\r\n----> 0xFD 0x00 0x01 0x03 \r\n"
                                             "发出一帧，字节数  4\r\n----> FD 00 01 04 \r\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogEntries)
#include "tst_log_entries.moc"
