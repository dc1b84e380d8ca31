#pragma once
// A model of the QAV7120 as its host sees it: it takes whole frames, answers
// with reply bytes, and "speaks" for a time that follows the text length and
// the speech rate. Both the serial line and the USB bridge emulator sit on it.

#include "speech_text.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>

namespace qav::sim {

// One utterance as the chip starts it.
struct Utterance {
    int frameNumber = 0;
    QString text;                // decoded, tags included
    SpeechProperties properties; // in force before the text's first tag
    int repeats = 1;             // cache play speaks its text several times
    double durationMs = 0;       // model time, before the time scale
};

class ChipModel : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Playing, Paused, Standby };

    // The version text answered to 0x58, after the "S".
    static constexpr const char* kVersionText = "QAV7120 V1.3 EMU";
    // The chip's text cache: 16 segments of 256 bytes.
    static constexpr int kCacheSegments = 16;
    static constexpr int kCacheSegmentSize = 256;

    explicit ChipModel(QObject* parent = nullptr);
    ~ChipModel() override;

    // Real time is divided by the scale: 100 makes a 1 s utterance last 10 ms.
    void setTimeScale(double scale);
    double timeScale() const;
    State state() const;
    const SpeechProperties& properties() const { return properties_; }
    // Frames counted so far, good and bad; the next frame gets this number + 1.
    int frameCount() const { return frameCount_; }

    // Handles one complete frame (FD, length, command, parameter, data) and
    // returns the bytes the chip answers at once on the serial line
    // (0x41, or 0x45 for a frame it cannot use, followed by a status byte
    // where the command asks for one).
    QByteArray handleFrame(const QByteArray& frame);

    // Bytes the line could not make into a frame (length 0, too long, or not
    // complete in time). Counts as a frame, traces it, and returns 0x45.
    QByteArray handleBadFrame(const QByteArray& bytes, const QString& reason);

    // Faults to play, for tests and engineers. Each setter starts its count
    // afresh; all are off by default.
    //
    // Hangs after the n-th synthesis frame (0x01 answered 0x41) from now on:
    // that frame is still acknowledged and starts speaking, but its end is
    // never reported; from then on no frame gets an answer (not even a status
    // query) and the chip sends nothing on its own. A power cycle ends the
    // hang and starts the count again, so the chip hangs again n synthesis
    // frames later. 0 never hangs.
    void setHangAfter(int synthesisFrames);
    // Power-cycles a hung chip this many real milliseconds after it hung; the
    // time scale does not apply. Set while hung, it counts from the hang.
    // 0 leaves the chip hung.
    void setRecoverAfterMs(int milliseconds);
    // Leaves out every n-th idle report 0x4F sent at the end of an utterance
    // or after a stop; the chip goes idle all the same. The 4F answering a
    // status query (41 4F) is always sent and not counted. 0 leaves none out.
    void setDropIdleEvery(int n);
    bool isHung() const { return hung_; }
    // The chip switched off and on: whatever it was doing is forgotten, it
    // is idle with the default speech properties and an empty cache, it
    // sends 0x4A and answers again. Nothing it meant to send before goes out.
    void powerCycle();

signals:
    // Bytes the chip sends on its own, such as 0x4F at the end of an
    // utterance and after a stop, and the "S..." answer to a version query.
    void spontaneousReply(const QByteArray& bytes);
    // One readable line per frame handled, for the emulator's trace.
    void traced(const QString& line);
    // The text of each utterance as it starts, tags included, with the frame number.
    void utteranceStarted(int frameNumber, const QString& text);
    // The same moment, with what a renderer needs to voice it.
    void utteranceBegan(const qav::sim::Utterance& utterance);
    // The chip hung after the synthesis frame with this number.
    void hung(int frameNumber);
    // A power cycle ended a hang (after its 0x4A went out).
    void recovered();
    // The idle report after this frame's utterance or stop was left out.
    void idleReplyDropped(int frameNumber);

private:
    struct Outcome {
        QByteArray reply;
        QString detail;
    };
    Outcome synthesize(const QByteArray& frame);
    Outcome cacheStore(const QByteArray& frame);
    Outcome cachePlay(const QByteArray& frame);
    Outcome simpleCommand(quint8 command);
    void startSpeaking(const QString& text, int repeats);
    void stopSpeaking();
    void finishSpeaking();
    enum class IdleCause { UtteranceEnd, Stop };
    void reportIdle(int frameNumber, IdleCause cause);
    void hangUp();
    void armTimer();
    void trace(int frameNumber, const QString& body, const QByteArray& reply);

    double scale_ = 1.0;
    State state_ = State::Idle;
    SpeechProperties properties_;
    QTimer speechTimer_;
    QElapsedTimer speechClock_; // since the speech last (re)started
    double remainingMs_ = 0;    // model time left of the current utterance
    int speakingFrame_ = 0;
    int frameCount_ = 0;
    QElapsedTimer uptime_;
    std::array<QByteArray, kCacheSegments> cache_;

    // Faults.
    int hangAfter_ = 0;
    int synthesesCounted_ = 0; // towards the hang, since the setter or a power cycle
    bool hung_ = false;
    QElapsedTimer hungClock_;
    int recoverAfterMs_ = 0;
    QTimer recoveryTimer_;
    int dropIdleEvery_ = 0;
    int idleReportsCounted_ = 0; // towards the next one left out
    // Changes when the chip hangs or is power-cycled: replies it scheduled
    // before then are not sent.
    quint64 life_ = 0;
};

} // namespace qav::sim
