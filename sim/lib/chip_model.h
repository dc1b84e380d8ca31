#pragma once
// A model of the QAV7120 as its host sees it: it takes whole frames, answers
// with reply bytes, and "speaks" for a time that follows the text length and
// the speech rate. Both the serial line and the USB bridge emulator sit on it.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace qav::sim {

class ChipModel : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Playing, Paused, Standby };

    explicit ChipModel(QObject* parent = nullptr);
    ~ChipModel() override;

    // Real time is divided by the scale: 100 makes a 1 s utterance last 10 ms.
    void setTimeScale(double scale);
    double timeScale() const;
    State state() const;

    // Handles one complete frame (FD, length, command, parameter, data) and
    // returns the bytes the chip answers at once on the serial line
    // (0x41, or 0x45 for a frame it cannot use, followed by a status byte
    // where the command asks for one).
    QByteArray handleFrame(const QByteArray& frame);

signals:
    // Bytes the chip sends on its own, such as 0x4F at the end of an utterance.
    void spontaneousReply(const QByteArray& bytes);
    // One readable line per frame handled, for the emulator's trace.
    void traced(const QString& line);
    // The text of each utterance as it starts, tags included, with the frame number.
    void utteranceStarted(int frameNumber, const QString& text);
};

} // namespace qav::sim
