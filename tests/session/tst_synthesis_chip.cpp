// Synthesis against the chip model on the far end of the serial line: the
// frame is understood and the chip's replies are decoded.
#include "chip_model.h"
#include "serial_line.h"
#include "session_helpers.h"

#include <QRegularExpression>
#include <QTest>

using namespace qav;
using namespace qav::test;

class SynthesisChipTest : public QObject {
    Q_OBJECT
    std::unique_ptr<SessionFixture> console_;
    std::unique_ptr<sim::ChipModel> chip_;
    std::unique_ptr<sim::SerialLine> line_;
    QStringList spoken_;

    QString log() { return console_->log(); }

private slots:
    void init() {
        console_ = std::make_unique<SessionFixture>();
        chip_ = std::make_unique<sim::ChipModel>();
        chip_->setTimeScale(50);
        line_ = std::make_unique<sim::SerialLine>(chip_.get());
        QVERIFY(line_->open(console_->dir(), 1));
        QVERIFY(console_->session().selectPort(QStringLiteral("COM1")));
        spoken_.clear();
        connect(chip_.get(), &sim::ChipModel::utteranceStarted, this,
                [this](int, const QString& text) { spoken_ << text; });
    }
    void cleanup() {
        console_.reset();
        line_.reset();
        chip_.reset();
    }

    void spokenAndAnswered_data() {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("gbk") << 1 << u"欢迎光临"_qs;
        QTest::newRow("big5") << 2 << u"歡迎光臨"_qs;
        QTest::newRow("unicode be") << 4 << u"欢迎光临"_qs;
    }
    void spokenAndAnswered() {
        QFETCH(int, encoding);
        QFETCH(QString, spoken);
        console_->session().setEncoding(encoding);
        console_->text().setText(u"欢迎光临"_qs);
        console_->session().synthesize();
        QTRY_VERIFY(log().contains(u"<---- 返回：4F  芯片空闲\r\n"_qs));
        QCOMPARE(spoken_, QStringList{spoken});
        QVERIFY(log().contains(u"<---- 返回：41  接收成功\r\n"_qs));
    }

    void versionAnswerOnOneLine() {
        // The chip acknowledges at once and answers a moment later; the pause
        // before the read keeps the version text in one piece (the 0x41 may be
        // read with it, and then heads the string).
        console_->session().sendFrame(protocol::commandFrame(protocol::Command::QueryVersion));
        const QString tail = QString::fromLatin1(sim::ChipModel::kVersionText) + "\r\n";
        QTRY_VERIFY(log().endsWith(tail));
        QTest::qWait(100); // checks that no further line follows
        const QString text = log();
        QVERIFY(text.startsWith(u"发出一帧，字节数  4\r\n----> FD 00 01 58 \r\n"_qs));
        QVERIFY(text.endsWith(tail));
        QVERIFY(text.contains(u"<---- 返回：41  接收成功\r\n"_qs));
        QCOMPARE(text.count(u"<---- 返回："_qs), 2);
        QVERIFY(text.contains(QRegularExpression(u"<---- 返回：58  软件版本号：A?S"_qs)));
    }
};

QTEST_GUILESS_MAIN(SynthesisChipTest)
#include "tst_synthesis_chip.moc"
