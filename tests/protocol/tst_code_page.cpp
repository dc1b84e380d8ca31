// The GBK and BIG5 code pages, byte for byte: the same bytes through ICU on
// Linux and through the code pages 936 and 950 on Windows.
#include "common/hex_bytes.h"
#include "protocol/code_page.h"

#include <QTest>

using namespace qav::protocol;
using qav::test::hex;

class CodePageTest : public QObject {
    Q_OBJECT
private slots:
    void available() {
        QVERIFY(codePageAvailable(CodePage::Gbk));
        QVERIFY(codePageAvailable(CodePage::Big5));
    }

    void encodes_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        const int gbk = int(CodePage::Gbk), big5 = int(CodePage::Big5);
        QTest::newRow("gbk chinese") << gbk << u"欢迎光临"_qs << hex("BBB6 D3AD B9E2 C1D9");
        QTest::newRow("gbk euro is 0x80") << gbk << u"a€"_qs << hex("61 80");
        QTest::newRow("gbk middle dot") << gbk << u"·—"_qs << hex("A1A4 A1AA");
        // No look-alike for a character without a code: the won sign is not W.
        QTest::newRow("gbk no best fit") << gbk << u"a₩b"_qs << hex("61 3F 62");
        // A character beyond the BMP is one '?', not one per UTF-16 unit.
        QTest::newRow("gbk emoji") << gbk << u"a😀b"_qs << hex("61 3F 62");
        QTest::newRow("big5 traditional") << big5 << u"歡迎光臨"_qs << hex("C577 AAEF A5FA C17B");
        QTest::newRow("big5 euro") << big5 << u"€"_qs << hex("A3E1");
        QTest::newRow("big5 simplified has none") << big5 << u"欢a"_qs << hex("3F 61");
        QTest::newRow("empty") << gbk << QString() << QByteArray();
    }
    void encodes() {
        QFETCH(int, page);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(encodeCodePage(CodePage(page), text), bytes);
    }

    void decodes_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const int gbk = int(CodePage::Gbk), big5 = int(CodePage::Big5);
        QTest::newRow("gbk chinese") << gbk << hex("BBB6 D3AD 0D0A") << u"欢迎\r\n"_qs;
        QTest::newRow("gbk euro") << gbk << hex("80") << u"€"_qs;
        // Half a character at the end is left out, on both systems.
        QTest::newRow("gbk cut lead byte") << gbk << hex("61 BB") << u"a"_qs;
        QTest::newRow("gbk lead before ascii") << gbk << hex("BB 30") << u"\uFFFD0"_qs;
        QTest::newRow("big5 traditional") << big5 << hex("C577 AAEF") << u"歡迎"_qs;
    }
    void decodes() {
        QFETCH(int, page);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(decodeCodePage(CodePage(page), bytes), text);
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_code_page.moc"
