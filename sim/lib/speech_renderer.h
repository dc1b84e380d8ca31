#pragma once
// Voices what the chip was asked to say: each utterance becomes a WAV file,
// frame-NNNNNN.wav, rendered with espeak-ng on a thread of its own so the
// line keeps answering while a long text is rendered.

#include "chip_model.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

namespace qav::sim {

// Writes 16-bit mono PCM samples as a RIFF/WAVE file image.
QByteArray wavFile(const QByteArray& pcm16, int sampleRate);

// Cuts a tag-free text into runs to voice in Chinese (true) or English
// (false). Digits, blanks and punctuation go with the run they stand in.
struct ScriptRun {
    bool chinese = false;
    QString text;
};
QList<ScriptRun> splitByScript(const QString& text);

class SpeechRenderer : public QObject {
    Q_OBJECT
public:
    explicit SpeechRenderer(const QString& outputDir, QObject* parent = nullptr);
    ~SpeechRenderer() override;

    // Queues an utterance; the file follows later (rendered()).
    void render(const qav::sim::Utterance& utterance);

    static QString fileNameFor(int frameNumber);

signals:
    void rendered(int frameNumber, const QString& path, double seconds);
    void failed(int frameNumber, const QString& reason);

private:
    QThread thread_;
    QObject* worker_ = nullptr;
};

} // namespace qav::sim
