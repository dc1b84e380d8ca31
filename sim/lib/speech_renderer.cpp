#include "speech_renderer.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QSaveFile>
#include <cmath>
#include <espeak-ng/speak_lib.h>

namespace qav::sim {

namespace {

bool isHanChar(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

bool isLatinLetter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

void putLe(QByteArray& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// espeak-ng keeps global state, so one renderer thread owns it for the run.
class EspeakWorker : public QObject {
    Q_OBJECT
public:
    EspeakWorker(QString dir, SpeechRenderer* owner) : dir_(std::move(dir)), owner_(owner) {}
    ~EspeakWorker() override {
        if (sampleRate_ > 0)
            espeak_Terminate();
    }

    void render(const Utterance& u) {
        if (!ensureInitialised()) {
            emit owner_->failed(u.frameNumber, QStringLiteral("espeak-ng could not start"));
            return;
        }
        QByteArray pcm;
        SpeechProperties props = u.properties;
        for (int pass = 0; pass < u.repeats; ++pass) {
            for (const SpeechPiece& piece : splitTags(u.text)) {
                if (piece.kind == SpeechPiece::Kind::Tag) {
                    const int pauseMs = applyTag(props, piece.tag);
                    if (pauseMs > 0)
                        pcm.append(QByteArray(qsizetype(sampleRate_) * pauseMs / 1000 * 2, '\0'));
                    continue;
                }
                for (const ScriptRun& run : splitByScript(piece.text))
                    speak(run, props, pcm);
            }
        }
        if (pcm.isEmpty())
            return; // only tags: nothing to hear
        const QString path =
            QDir(dir_).absoluteFilePath(SpeechRenderer::fileNameFor(u.frameNumber));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(wavFile(pcm, sampleRate_)) < 0 ||
            !file.commit()) {
            emit owner_->failed(u.frameNumber, file.errorString());
            return;
        }
        emit owner_->rendered(u.frameNumber, path, double(pcm.size() / 2) / sampleRate_);
    }

private:
    static int collect(short* samples, int count, espeak_EVENT* events) {
        if (samples && count > 0 && events && events->user_data)
            static_cast<QByteArray*>(events->user_data)
                ->append(reinterpret_cast<const char*>(samples), qsizetype(count) * 2);
        return 0;
    }

    bool ensureInitialised() {
        if (sampleRate_ > 0)
            return true;
        if (sampleRate_ < 0)
            return false;
        const int rate =
            espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        sampleRate_ = rate > 0 ? rate : -1;
        if (sampleRate_ > 0)
            espeak_SetSynthCallback(&EspeakWorker::collect);
        return sampleRate_ > 0;
    }

    void speak(const ScriptRun& run, const SpeechProperties& props, QByteArray& pcm) {
        if (run.text.trimmed().isEmpty())
            return;
        // [g1] reads everything as Chinese. Chinese characters always need the
        // Mandarin voice, so [g2] changes nothing here.
        const bool chinese = run.chinese || props.language == 1;
        const char* voice = chinese ? "cmn" : "en";
        if (voice != voice_) {
            if (espeak_SetVoiceByName(voice) != EE_OK)
                return;
            voice_ = voice;
        }
        // [v5] [s5] [t5] are espeak-ng's own defaults; the ends of the chip's
        // scales map to a quiet, slow, low voice and a loud, fast, high one.
        espeak_SetParameter(espeakVOLUME, props.volume * 20, 0);
        const int wpm = int(std::lround(espeakRATE_NORMAL * std::pow(2.0, (props.rate - 5) / 5.0)));
        espeak_SetParameter(espeakRATE, std::clamp(wpm, espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);
        espeak_SetParameter(espeakPITCH, props.tone * 10, 0);
        const QByteArray utf8 = run.text.toUtf8();
        espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, &pcm);
        espeak_Synchronize();
    }

    QString dir_;
    SpeechRenderer* owner_;
    int sampleRate_ = 0;
    const char* voice_ = nullptr;
};

} // namespace

QByteArray wavFile(const QByteArray& pcm16, int sampleRate) {
    QByteArray out;
    const quint32 dataSize = quint32(pcm16.size());
    out.append("RIFF");
    putLe(out, 36 + dataSize, 4);
    out.append("WAVE");
    out.append("fmt ");
    putLe(out, 16, 4); // format chunk size
    putLe(out, 1, 2);  // PCM
    putLe(out, 1, 2);  // mono
    putLe(out, quint32(sampleRate), 4);
    putLe(out, quint32(sampleRate) * 2, 4); // bytes per second
    putLe(out, 2, 2);                       // block align
    putLe(out, 16, 2);                      // bits per sample
    out.append("data");
    putLe(out, dataSize, 4);
    out.append(pcm16);
    return out;
}

QList<ScriptRun> splitByScript(const QString& text) {
    QList<ScriptRun> runs;
    QString neutral; // digits, blanks, punctuation not yet given to a run
    for (char32_t c : text.toUcs4()) {
        const QString s = QString::fromUcs4(&c, 1);
        int script = -1;
        if (isHanChar(c))
            script = 1;
        else if (isLatinLetter(c))
            script = 0;
        if (script < 0) {
            if (runs.isEmpty())
                neutral += s;
            else
                runs.back().text += s;
            continue;
        }
        const bool chinese = script == 1;
        if (runs.isEmpty() || runs.back().chinese != chinese)
            runs.append({chinese, std::exchange(neutral, {})});
        runs.back().text += s;
    }
    if (!neutral.isEmpty())
        runs.append({false, neutral}); // digits alone are read in English
    return runs;
}

SpeechRenderer::SpeechRenderer(const QString& outputDir, QObject* parent) : QObject(parent) {
    QDir().mkpath(outputDir);
    auto* worker = new EspeakWorker(outputDir, this);
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    worker_ = worker;
    thread_.setObjectName(QStringLiteral("speech"));
    thread_.start();
}

SpeechRenderer::~SpeechRenderer() {
    thread_.quit();
    thread_.wait();
}

void SpeechRenderer::render(const Utterance& utterance) {
    auto* worker = static_cast<EspeakWorker*>(worker_);
    QMetaObject::invokeMethod(
        worker, [worker, utterance] { worker->render(utterance); }, Qt::QueuedConnection);
}

QString SpeechRenderer::fileNameFor(int frameNumber) {
    return QStringLiteral("frame-%1.wav").arg(frameNumber, 6, 10, QLatin1Char('0'));
}

} // namespace qav::sim

#include "speech_renderer.moc"
