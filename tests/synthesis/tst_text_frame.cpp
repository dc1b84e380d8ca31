// Measuring, cutting and converting text into synthesis and cache-store frames.
#include "common/hex_bytes.h"
#include "synthesis/text_frame.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qav::synthesis;
using qav::protocol::Command;
using qav::protocol::Encoding;

using qav::test::hex;

namespace {

// A table file of the given size, all zero.
void writeTable(const QString& folder, qsizetype size) {
    QFile f(ConversionTable::pathIn(folder));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, '\0'));
}

TextFrameRequest request(Encoding encoding, const QString& folder, int chunkLimit = 4091) {
    TextFrameRequest r;
    r.command = Command::Synthesize;
    r.parameter = std::uint8_t(encoding);
    r.encoding = encoding;
    r.chunkLimit = chunkLimit;
    r.tableFolder = folder;
    return r;
}

} // namespace

class TextFrameTest : public QObject {
    Q_OBJECT
    const QString dir_ = QAV_BIN_DIR; // where the build puts the generated table

private slots:

    void frameBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("welcome gbk") << u"欢迎光临"_qs << 1 << hex("FD000A0101BBB6D3ADB9E2C1D9");
        QTest::newRow("abc gbk") << QString("abc") << 1 << hex("FD000501 01616263");
        QTest::newRow("abc big5") << QString("abc") << 2 << hex("FD000501 02616263");
        QTest::newRow("abc utf16le") << QString("abc") << 3 << hex("FD000801 03610062006300");
        QTest::newRow("abc utf16be") << QString("abc") << 4 << hex("FD000801 04006100620063");
        QTest::newRow("zhong be") << u"中"_qs << 4 << hex("FD000401 044E2D");
        QTest::newRow("huan big5") << u"欢"_qs << 2 << hex("FD000401 02C577");
        // The euro sign is GBK 0x80: no BIG5 form, its own code point in UTF-16.
        QTest::newRow("euro gbk") << u"a€"_qs << 1 << hex("FD000401 016180");
        QTest::newRow("euro big5") << u"a€"_qs << 2 << hex("FD000301 0261");
        QTest::newRow("euro utf16le") << u"€"_qs << 3 << hex("FD000401 03AC20");
        QTest::newRow("del everywhere") << QString("\x7f") << 2 << hex("FD000301 027F");
        // No GBK code: one '?' each, a surrogate pair included.
        QTest::newRow("no gbk code") << u"\u0E01"_qs << 1 << hex("FD000301 013F");
        QTest::newRow("surrogate pair")
            << QString::fromUcs4(U"\U0001F600x") << 1 << hex("FD000401 013F78");
    }
    void frameBytes() {
        QFETCH(QString, text);
        QFETCH(int, encoding);
        QFETCH(QByteArray, frame);
        const TextFrame f = buildTextFrame(text, request(Encoding(encoding), dir_));
        QCOMPARE(f.status, TextFrame::Status::Ok);
        QCOMPARE(f.frame.toHex(' '), frame.toHex(' '));
        QVERIFY(!f.measure.shortened);
    }

    void cutting_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<int>("limit");
        QTest::addColumn<qsizetype>("length"); // code units sent
        QTest::addColumn<int>("frameLength");
        const QString ascii4091(4091, u'a');
        QTest::newRow("serial exact fit") << ascii4091 << 1 << 4091 << qsizetype(4091) << 4096;
        QTest::newRow("serial one more") << ascii4091 + "b" << 1 << 4091 << qsizetype(4091) << 4096;
        QTest::newRow("serial 4090 + chinese")
            << QString(4090, u'a') + u"中文"_qs << 1 << 4091 << qsizetype(4090) << 4095;
        QTest::newRow("usb 300 chinese")
            << QString(300, u'中') << 1 << 512 << qsizetype(256) << 517;
        // CR LF is one line break: it goes whole or not at all.
        QTest::newRow("crlf straddles limit")
            << QString(4090, u'a') + "\r\nxyz" << 1 << 4091 << qsizetype(4090) << 4095;
        QTest::newRow("crlf ends at limit")
            << QString(4089, u'a') + "\r\nxyz" << 1 << 4091 << qsizetype(4091) << 4096;
        // A surrogate pair is one character and is never split.
        QTest::newRow("surrogate at limit")
            << QString(4090, u'a') + QString::fromUcs4(U"\U0001F600\U0001F600") << 1 << 4091
            << qsizetype(4092) << 4096;
        // Texts longer than 32767 characters: only the first chunk counts.
        QTest::newRow("long text") << QString(100000, u'中') << 1 << 512 << qsizetype(256) << 517;
    }
    void cutting() {
        QFETCH(QString, text);
        QFETCH(int, encoding);
        QFETCH(int, limit);
        QFETCH(qsizetype, length);
        QFETCH(int, frameLength);
        const TextFrame f = buildTextFrame(text, request(Encoding(encoding), dir_, limit));
        QCOMPARE(f.status, TextFrame::Status::Ok);
        QCOMPARE(f.measure.length, length);
        QCOMPARE(f.measure.shortened, length < text.size());
        QCOMPARE(f.frame.size(), frameLength);
        QCOMPARE(int(std::uint8_t(f.frame[1]) << 8 | std::uint8_t(f.frame[2])), frameLength - 3);
        QVERIFY(f.frame.size() - 5 <= limit);
    }

    void tableHandling() {
        QTemporaryDir empty;
        // GB2312 and GBK never look for the table.
        QCOMPARE(buildTextFrame(u"中", request(Encoding::Gbk, empty.path())).status,
                 TextFrame::Status::Ok);
        for (Encoding e : {Encoding::Big5, Encoding::Utf16Le, Encoding::Utf16Be}) {
            // Pure ASCII still needs the table.
            const TextFrame f = buildTextFrame(u"abc", request(e, empty.path()));
            QCOMPARE(f.status, TextFrame::Status::TableMissing);
            QVERIFY(f.frame.isEmpty());
        }
        // The cut is known even when the table is missing.
        QCOMPARE(buildTextFrame(QString(600, u'a'), request(Encoding::Big5, empty.path(), 512))
                     .measure.length,
                 512);
        // A table of the wrong size is as good as none.
        for (qsizetype size :
             {ConversionTable::kFileSize - 1, ConversionTable::kFileSize + 4, qsizetype(0)}) {
            QTemporaryDir damaged;
            writeTable(damaged.path(), size);
            QCOMPARE(buildTextFrame(u"中", request(Encoding::Utf16Le, damaged.path())).status,
                     TextFrame::Status::TableMissing);
        }
        // An empty selection gives no frame at all.
        QCOMPARE(buildTextFrame(u"", request(Encoding::Big5, empty.path())).status,
                 TextFrame::Status::Empty);
    }
};

QTEST_GUILESS_MAIN(TextFrameTest)
#include "tst_text_frame.moc"
