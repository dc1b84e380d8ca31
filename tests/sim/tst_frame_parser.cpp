#include "common/hex_bytes.h"
#include "frame_parser.h"

#include <QRandomGenerator>
#include <QTest>

using qav::sim::FrameParser;
using Kind = FrameParser::Event::Kind;

using qav::test::hex;

namespace {
QByteArray synthFrame(const QByteArray& text) {
    const int length = int(text.size()) + 2;
    QByteArray frame;
    frame.append(char(0xFD)).append(char(length >> 8)).append(char(length & 0xFF));
    frame.append(char(0x01)).append(char(0x01)).append(text);
    return frame;
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private slots:
    void frameSplitAcrossReadsComesOutWhole() {
        FrameParser parser;
        const QByteArray frame = synthFrame("hello");
        std::vector<FrameParser::Event> events;
        for (char byte : frame) {
            QVERIFY(events.empty());
            events = parser.feed(QByteArrayView(&byte, 1));
        }
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].kind, Kind::Frame);
        QCOMPARE(events[0].bytes, frame);
        QVERIFY(!parser.inFrame());
    }

    void backToBackFramesAndHeaderBytesInsideData() {
        FrameParser parser;
        // 0xFD inside the text must not be taken for the next header.
        const QByteArray first = synthFrame(hex("FDFD00"));
        const QByteArray second = hex("FD000121");
        const auto events = parser.feed(first + second + second);
        QCOMPARE(events.size(), size_t(3));
        QCOMPARE(events[0].bytes, first);
        QCOMPARE(events[1].bytes, second);
        QCOMPARE(events[2].bytes, second);
    }

    void noiseBeforeHeaderIsSkipped() {
        FrameParser parser;
        QVERIFY(parser.feed(hex("0011223344")).empty());
        const auto events = parser.feed(hex("AA41FD000102"));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].bytes, hex("FD000102"));
        QCOMPARE(parser.skippedBytes(), qint64(7));
    }

    void badLengthsAreErrorsAndTheStreamRecovers() {
        FrameParser parser(4093);
        auto events = parser.feed(hex("FD0000") + hex("FD000103"));
        QCOMPARE(events.size(), size_t(2));
        QCOMPARE(events[0].kind, Kind::Error);
        QCOMPARE(events[0].bytes, hex("FD0000"));
        QCOMPARE(events[1].kind, Kind::Frame);

        // Longer than the chip's buffer: an error at once, not a long wait.
        events = parser.feed(hex("FD0FFE01"));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].kind, Kind::Error);
        // The largest serial frame (4096 bytes) still fits.
        events = parser.feed(synthFrame(QByteArray(4091, 'a')));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].kind, Kind::Frame);
        QCOMPARE(events[0].bytes.size(), 4096);
    }

    void expiredFrameIsAnErrorAndTheNextFrameIsClean() {
        FrameParser parser;
        QVERIFY(parser.expire().empty()); // nothing in progress
        QVERIFY(parser.feed(hex("FD000501")).empty());
        QVERIFY(parser.inFrame());
        auto events = parser.expire();
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].kind, Kind::Error);
        QCOMPARE(events[0].bytes, hex("FD000501"));
        QVERIFY(!parser.inFrame());
        events = parser.feed(hex("FD000102"));
        QCOMPARE(events.size(), size_t(1));
        QCOMPARE(events[0].bytes, hex("FD000102"));

        QVERIFY(parser.feed(hex("FD")).empty());
        QCOMPARE(parser.expire().size(), size_t(1)); // a lone header byte too
    }

    void anyCuttingOfAStreamGivesTheSameFrames() {
        auto* random = QRandomGenerator::global();
        QList<QByteArray> frames;
        QByteArray stream;
        for (int i = 0; i < 200; ++i) {
            QByteArray text(random->bounded(1, 300), Qt::Uninitialized);
            for (char& c : text)
                c = char(random->bounded(256));
            frames.append(synthFrame(text));
            stream += frames.back();
        }
        FrameParser parser;
        QList<QByteArray> seen;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype take = std::min<qsizetype>(random->bounded(1, 700), stream.size() - at);
            for (const auto& event : parser.feed(QByteArrayView(stream).sliced(at, take))) {
                QCOMPARE(event.kind, Kind::Frame);
                seen.append(event.bytes);
            }
            at += take;
        }
        QCOMPARE(seen, frames);
    }
};

QTEST_APPLESS_MAIN(TestFrameParser)
#include "tst_frame_parser.moc"
