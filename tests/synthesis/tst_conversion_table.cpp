// The conversion table generated at build time, checked on well-known characters.
#include "common/system_code_pages.h"
#include "synthesis/conversion_table.h"

#include <QFile>
#include <QTest>

using namespace qav::synthesis;

class ConversionTableTest : public QObject {
    Q_OBJECT
    std::optional<ConversionTable> table_;

    // The record of a character, found by its GBK code.
    ConversionTable::Record recordOf(char16_t c) {
        const QByteArray code = qav::test::systemGbk(QStringView(&c, 1));
        return table_->record(std::uint8_t(code[0]), std::uint8_t(code[1]));
    }
    static int big5Of(char16_t c) {
        const QByteArray b = qav::test::systemBig5(QStringView(&c, 1));
        return b.size() == 2 ? std::uint8_t(b[0]) << 8 | std::uint8_t(b[1]) : -1;
    }

private slots:
    void initTestCase() {
        QCOMPARE(QFile(ConversionTable::pathIn(QAV_BIN_DIR)).size(), 96264);
        table_ = ConversionTable::load(QAV_BIN_DIR);
        QVERIFY(table_);
    }

    void recordLayout() {
        // 欢 is GBK BB B6: record (0xBB - 0x81) * 191 + (0xB6 - 0x40), bytes 77 C5 22 6B.
        QFile f(ConversionTable::pathIn(QAV_BIN_DIR));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.seek(4 * ((0xBB - 0x81) * 191 + (0xB6 - 0x40))));
        QCOMPARE(f.read(4), QByteArray::fromHex("77C5226B"));
    }

    void big5Column_data() {
        QTest::addColumn<QString>("simplified");
        QTest::addColumn<QString>("big5As"); // the character whose BIG5 code is expected
        QTest::newRow("zhong") << u"中"_qs << u"中"_qs;
        QTest::newRow("huan") << u"欢"_qs << u"歡"_qs;
        QTest::newRow("lin") << u"临"_qs << u"臨"_qs;
        QTest::newRow("guo") << u"国"_qs << u"國"_qs;
        QTest::newRow("long") << u"龙"_qs << u"龍"_qs;
        QTest::newRow("shuo") << u"说"_qs << u"說"_qs;
        QTest::newRow("traditional in gbk") << u"歡"_qs << u"歡"_qs;
        QTest::newRow("full-width comma") << u"，"_qs << u"，"_qs;
    }
    void big5Column() {
        QFETCH(QString, simplified);
        QFETCH(QString, big5As);
        QCOMPARE(recordOf(simplified[0].unicode()).big5Lead << 8 |
                     recordOf(simplified[0].unicode()).big5Trail,
                 big5Of(big5As[0].unicode()));
    }

    void noBig5Code() {
        // Not a GBK pair, and a user-defined code: the full-width question mark.
        const auto invalid = table_->record(0x81, 0x7F);
        QCOMPARE(invalid.big5Lead << 8 | invalid.big5Trail, 0xA148);
        QCOMPARE(invalid.unicode, char16_t(0xFF1F));
        const auto user = table_->record(0xAA, 0xA1);
        QCOMPARE(user.big5Lead << 8 | user.big5Trail, 0xA148);
        QCOMPARE(user.unicode, char16_t(0xE000));
    }
};

QTEST_GUILESS_MAIN(ConversionTableTest)
#include "tst_conversion_table.moc"
