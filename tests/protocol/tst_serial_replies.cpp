// Lines logged for the chip's replies on the serial link.
#include "protocol/serial_replies.h"

#include <QTest>
#include <limits>

using namespace qav::protocol;

class SerialRepliesTest : public QObject {
    Q_OBJECT
private slots:
    void lines_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("idle");
        QTest::newRow("received, prefix")
            << QByteArray("A") << "0x" << QStringList{u"<---- 返回：0x41  接收成功\r\n"_qs} << 0;
        QTest::newRow("received, no prefix")
            << QByteArray("A") << "" << QStringList{u"<---- 返回：41  接收成功\r\n"_qs} << 0;
        QTest::newRow("all codes") << QByteArray("EJ") << ""
                                   << QStringList{u"<---- 返回：45  接收失败\r\n"_qs,
                                                  u"<---- 返回：4A  初始化成功回传\r\n"_qs}
                                   << 0;
        QTest::newRow("three idle, two decoded")
            << QByteArray("OOO") << ""
            << QStringList{u"<---- 返回：4F  芯片空闲\r\n"_qs, u"<---- 返回：4F  芯片空闲\r\n"_qs}
            << 2;
        QTest::newRow("unknown skipped")
            << QByteArray("AZ") << "" << QStringList{u"<---- 返回：41  接收成功\r\n"_qs} << 0;
        QTest::newRow("third byte ignored") << QByteArray("ZZA") << "" << QStringList{} << 0;
        QTest::newRow("high bytes are single characters")
            << QByteArray("\xB0\x41") << "" << QStringList{u"<---- 返回：41  接收成功\r\n"_qs} << 0;
        QTest::newRow("version carries the whole read")
            << QByteArray("SV1.3") << "0x"
            << QStringList{u"<---- 返回：0x58  软件版本号：SV1.3\r\n"_qs} << 0;
        QTest::newRow("noise after a version byte is cut")
            << (QByteArray("AS") + QByteArray(60000, 'x')) << ""
            << QStringList{u"<---- 返回：41  接收成功\r\n"_qs,
                           u"<---- 返回：58  软件版本号：AS"_qs +
                               QString(kSerialVersionMaxBytes - 2, u'x') + u"\r\n"_qs}
            << 0;
    }
    void lines() {
        QFETCH(QByteArray, received);
        QFETCH(QString, prefix);
        QFETCH(QStringList, lines);
        QFETCH(int, idle);
        const auto decoded = decodeSerialReplies(received, prefix);
        QStringList texts;
        int idleCount = 0;
        for (const auto& l : decoded) {
            texts << l.text;
            idleCount += l.idle();
        }
        QCOMPARE(texts, lines);
        QCOMPARE(idleCount, idle);
    }

    void pauseCoversAVersionAnswer() {
        QCOMPARE(replyPauseMs(9600), 21);
        QCOMPARE(replyPauseMs(4800), 42);
        QCOMPARE(replyPauseMs(115200), 2);
        QCOMPARE(replyPauseMs(0), 21);
        // Absurd speeds read from a settings string still give the shortest
        // pause instead of overflowing.
        QCOMPARE(replyPauseMs(std::numeric_limits<int>::max()), 2);
        QCOMPARE(replyPauseMs(-5), 21);
    }
};

QTEST_GUILESS_MAIN(SerialRepliesTest)
#include "tst_serial_replies.moc"
