// The hex send area's parse and the two frames built from it.
#include "common/hex_bytes.h"
#include "tools/hex_parse.h"

#include <QTest>

using namespace qav::tools;

using qav::test::hex;

namespace {

const QString kStartupText = QStringLiteral(
    "FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 CD B3 B5 C4 D1 DD CA "
    "BE A3 A1\r\n");

} // namespace

class TstHexParse : public QObject {
    Q_OBJECT
private slots:
    void parses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("upper") << QStringLiteral("FD 00 01 02") << hex("FD000102");
        QTest::newRow("lower") << QStringLiteral("fd 00 01 02") << hex("FD000102");
        QTest::newRow("mixed") << QStringLiteral("aB Cd") << hex("ABCD");
        QTest::newRow("no separators") << QStringLiteral("FD00") << hex("FD");
        QTest::newRow("lone final char") << QStringLiteral("FD 00 1") << hex("FD00");
        QTest::newRow("any separator") << QStringLiteral("FD,00G01") << hex("FD0001");
        QTest::newRow("separator is a digit") << QStringLiteral("FD100") << hex("FD00");
        QTest::newRow("break after last") << QStringLiteral("FD 00\r\n") << hex("FD00");
        QTest::newRow("two chars") << QStringLiteral("0a") << hex("0A");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void parses() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const auto parsed = parseHexText(text);
        QVERIFY(parsed);
        QCOMPARE(*parsed, bytes);
        QCOMPARE(parsed->size(), expectedHexByteCount(text.size()));
    }

    void refuses_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("not a digit") << QStringLiteral("FD 0G");
        QTest::newRow("break after a blank") << QStringLiteral("FD 00 \r\n");
        // A line break is two characters, one more than a separator.
        QTest::newRow("break as separator") << QStringLiteral("FD\r\n00");
        QTest::newRow("blank in a pair") << QStringLiteral("F D");
        QTest::newRow("single char") << QStringLiteral("F");
        QTest::newRow("full-width digit") << QStringLiteral("ＦＤ");
        QTest::newRow("bad pair late") << QString(QStringLiteral("00 ").repeated(500) + "0x");
    }
    void refuses() {
        QFETCH(QString, text);
        QVERIFY(!parseHexText(text));
        const HexSend direct = directHexFrame(text);
        QVERIFY(direct.frame.isEmpty());
        QCOMPARE(direct.message, QString::fromUtf8(kNotHexMessage));
        QCOMPARE(headerAddedHexFrame(text, 1).message, QString::fromUtf8(kNotHexMessage));
    }

    void startupTextFrames() {
        const HexSend direct = directHexFrame(kStartupText);
        QVERIFY(direct.message.isEmpty());
        QCOMPARE(direct.frame.size(), 33);
        QCOMPARE(direct.frame.left(5), hex("FD001E0101"));
        QCOMPARE(direct.frame.right(2), hex("A3A1"));

        for (std::uint8_t e = 0; e <= 4; ++e) {
            const HexSend added = headerAddedHexFrame(kStartupText, e);
            QVERIFY(added.message.isEmpty());
            QCOMPARE(added.frame.size(), 38);
            QCOMPARE(added.frame.left(5), hex("FD002301") + char(e));
            QCOMPARE(added.frame.mid(5), direct.frame);
        }
    }

    void emptyTextSendsNothing() {
        QCOMPARE(directHexFrame(QString()).frame, QByteArray());
        QVERIFY(directHexFrame(QString()).message.isEmpty());
        QCOMPARE(headerAddedHexFrame(QString(), 1).frame, QByteArray());
        QVERIFY(headerAddedHexFrame(QString(), 1).message.isEmpty());
    }

    // The length field holds the bytes plus command and parameter: 65533
    // bytes fill it exactly, one more would wrap it.
    void headerAddedLengthLimit() {
        const QString largest = QStringLiteral("AB ").repeated(kMaxHeaderAddedBytes);
        const HexSend fits = headerAddedHexFrame(largest, 1);
        QVERIFY(fits.message.isEmpty());
        QCOMPARE(fits.frame.size(), 65538);
        QCOMPARE(fits.frame.left(5), hex("FDFFFF0101"));

        const HexSend over = headerAddedHexFrame(largest + QStringLiteral("CD"), 1);
        QVERIFY(over.frame.isEmpty());
        QCOMPARE(over.message, QString::fromUtf8(kHexTooLongMessage));

        // Sent directly there is no length field to overflow.
        QCOMPARE(directHexFrame(largest + QStringLiteral("CD")).frame.size(), 65534);
    }
};

QTEST_APPLESS_MAIN(TstHexParse)
#include "tst_hex_parse.moc"
