#include "speech_renderer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using qav::sim::SpeechRenderer;
using qav::sim::Utterance;

class TestSpeechRenderer : public QObject {
    Q_OBJECT
private slots:
    void textIsSplitByScriptWithoutTags() {
        const auto runs = qav::sim::splitByScript(
            qav::sim::stripTags(QStringLiteral("12[v3]你好，[p500]hello world! 再见[=jian4]")));
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[0].chinese, true);
        QCOMPARE(runs[0].text, QStringLiteral("12你好，"));
        QCOMPARE(runs[1].chinese, false);
        QCOMPARE(runs[1].text, QStringLiteral("hello world! "));
        QCOMPARE(runs[2].text, QStringLiteral("再见"));
        // "[v]" and "[x" are not tags and are spoken as written.
        QCOMPARE(qav::sim::stripTags(QStringLiteral("[v][x1[d]")), QStringLiteral("[v][x1"));
    }

    void utteranceBecomesAPlayableWave() {
        QTemporaryDir dir;
        SpeechRenderer renderer(dir.path());
        QSignalSpy rendered(&renderer, &SpeechRenderer::rendered);
        QSignalSpy failed(&renderer, &SpeechRenderer::failed);
        Utterance tagsOnly;
        tagsOnly.frameNumber = 6;
        tagsOnly.text = QStringLiteral("[v10][s3]");
        renderer.render(tagsOnly);
        Utterance u;
        u.frameNumber = 7;
        u.text = QStringLiteral("[s8]你好 hello");
        u.repeats = 2;
        renderer.render(u);
        QTRY_COMPARE_WITH_TIMEOUT(rendered.size(), 1, 20000);
        QVERIFY(failed.isEmpty());
        QCOMPARE(rendered[0][0].toInt(), 7); // nothing to hear in frame 6
        QVERIFY(!QFile::exists(dir.filePath(SpeechRenderer::fileNameFor(6))));

        const QString path = rendered[0][1].toString();
        QCOMPARE(path, dir.filePath(QStringLiteral("frame-000007.wav")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        QVERIFY(wav.startsWith("RIFF"));
        QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
        const auto le32 = [&wav](int at) {
            return qFromLittleEndian<quint32>(wav.constData() + at);
        };
        QCOMPARE(le32(4), quint32(wav.size() - 8));
        QCOMPARE(le32(40), quint32(wav.size() - 44));
        const double seconds = double(le32(40)) / 2 / le32(24);
        QCOMPARE(seconds, rendered[0][2].toDouble());
        QVERIFY2(seconds > 0.8 && seconds < 10, qPrintable(QString::number(seconds)));
    }
};

QTEST_GUILESS_MAIN(TestSpeechRenderer)
#include "tst_speech_renderer.moc"
