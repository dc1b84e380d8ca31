// Tag frames of the speech-property panel.
#include "synthesis/tag_frames.h"

#include <QTest>

using namespace qav::synthesis;

class TstTagFrames : public QObject {
    Q_OBJECT
private slots:
    void frames_data() {
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<QByteArray>("frame");
        auto row = [](const char* name, QByteArray tag, const char* hexFrame) {
            QTest::newRow(name) << tag << QByteArray::fromHex(hexFrame);
        };
        row("volume 1", scrollBarTag(kVolumeTag, 1), "FD000601015B76305D");
        row("volume 10", scrollBarTag(kVolumeTag, 10), "FD000601015B76395D");
        row("volume 11", scrollBarTag(kVolumeTag, 11), "FD000701015B7631305D");
        row("speed 6", scrollBarTag(kSpeedTag, kScrollBarDefault), "FD000601015B73355D");
        row("tone 11", scrollBarTag(kToneTag, 11), "FD000701015B7431305D");
        row("speaker 0", speakerTag(0), "FD000601015B6D335D");
        row("speaker 2", speakerTag(2), "FD000701015B6D35325D");
        row("speaker 3", speakerTag(3), "FD000701015B6D35335D");
        row("automatic", languageTag(Language::Automatic), "FD000601015B67305D");
        row("chinese", languageTag(Language::Chinese), "FD000601015B67315D");
        row("english", languageTag(Language::English), "FD000601015B67325D");
        row("reset", resetTag(), "FD000501015B645D");
    }
    void frames() {
        QFETCH(QByteArray, tag);
        QFETCH(QByteArray, frame);
        // The array is exactly the frame, and its length byte counts the rest.
        QCOMPARE(tagFrame(tag), frame);
        QCOMPARE(int(frame[2]), frame.size() - 3);
    }
};

QTEST_APPLESS_MAIN(TstTagFrames)
#include "tst_tag_frames.moc"
