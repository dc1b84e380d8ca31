#pragma once
// The chip on a serial line: a pseudo-terminal whose slave is linked as COMn
// in a folder, so a console that opens "COMn" there talks to the chip model.
//
// The master stays open for the whole run. When the console closes the port
// the line waits, polling now and then, until the port is opened again;
// replies meant for nobody are dropped rather than left for the next opener.

#include "chip_model.h"
#include "frame_parser.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace qav::sim {

class SerialLine : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultFrameTimeoutMs = 500;

    explicit SerialLine(ChipModel* chip, QObject* parent = nullptr);
    ~SerialLine() override;

    // Opens the pseudo-terminal and links its slave as <dir>/COM<port>,
    // replacing a stale link. False with a reason when that is not possible.
    bool open(const QString& dir, int port, QString* error = nullptr);
    // Removes the link and closes the pseudo-terminal.
    void close();
    bool isOpen() const { return master_ >= 0; }

    QString linkPath() const { return linkPath_; }
    QString slavePath() const { return slavePath_; }
    // True while a client holds the port open (as far as the line has seen).
    bool clientConnected() const { return connected_; }

    // A frame still incomplete this long after its last byte is answered 0x45.
    void setFrameTimeoutMs(int ms);
    const FrameParser& parser() const { return parser_; }

signals:
    // Something about the line itself, for the trace: a client came or went,
    // replies were dropped.
    void lineEvent(const QString& text);

private:
    void onReadable();
    void onWritable();
    void onFrameTimeout();
    void checkClient();
    void send(const QByteArray& bytes);
    void flushPending();
    void handleEvents(const std::vector<FrameParser::Event>& events);
    void clientLeft();
    void clientCame();

    ChipModel* chip_;
    FrameParser parser_;
    int master_ = -1;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer frameTimer_;
    QTimer clientPoll_;
    QByteArray pendingOut_;
    QString linkPath_;
    QString slavePath_;
    bool connected_ = false;
};

} // namespace qav::sim
