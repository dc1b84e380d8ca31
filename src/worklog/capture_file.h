#pragma once
// The run's capture: every byte that goes to the chip or comes from it, with
// its time and direction, and the console's own events, in a pcapng file for
// Wireshark (pcapng.h has the layout). The work log has no time in it; this
// file is where the time is.
//
// Each block is written with one write the moment it is recorded, nothing is
// buffered, so a killed process leaves a file that Wireshark reads up to its
// last whole block. A write that the system refuses (a full disk, an I/O
// error) is cut back to the end of the last whole block, so later blocks stay
// readable; the first refusal of an episode is said once (storageProblem),
// the packets lost are counted, and the first block that can be written
// again is preceded by an event that says how many were lost.
//
// Nothing here throws, and any size of input is taken: data longer than a
// packet can hold is cut (serial bytes are spread over several packets).
// Use it from one thread. Until open() succeeds every call does nothing.

#include "worklog/native_file.h"
#include "worklog/pcapng.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <optional>

namespace qav::worklog {

class CaptureFile : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kUserApplication = "qav7120-console";
    static constexpr const char* kInterfaceName = "qav7120";

    explicit CaptureFile(QObject* parent = nullptr);
    ~CaptureFile() override;

    // Creates the file at path (or empties it) and writes the section and
    // interface headers; the reason when it cannot. An open capture is
    // closed first.
    std::optional<QString> open(const QString& path);
    void close();
    QString path() const { return path_; }
    bool isOpen() const { return fd_ != kNoFile; }
    qint64 size() const { return end_; }         // bytes of whole blocks in the file
    qint64 lostPackets() const { return lost_; } // since the last written block

    // Each takes the time itself (the system's clock, microseconds), or the given
    // microseconds since 1970.
    void frameSent(QByteArrayView frame) { frameSent(frame, nowMicros()); }
    void frameSent(QByteArrayView frame, qint64 micros);
    void serialReceived(QByteArrayView bytes) { serialReceived(bytes, nowMicros()); }
    void serialReceived(QByteArrayView bytes, qint64 micros);
    void usbReportWritten(QByteArrayView report) { usbReportWritten(report, nowMicros()); }
    void usbReportWritten(QByteArrayView report, qint64 micros);
    void usbReportRead(QByteArrayView report) { usbReportRead(report, nowMicros()); }
    void usbReportRead(QByteArrayView report, qint64 micros);
    void event(const QString& text) { event(text, nowMicros()); }
    void event(const QString& text, qint64 micros);

    static qint64 nowMicros();

signals:
    // The file cannot be written: what the engineer is told, once an episode.
    void storageProblem(const QString& message);

private:
    void record(PacketKind kind, QByteArrayView data, qint64 micros);
    int writeBlock(); // 0, or the error, with the file cut back

    FileHandle fd_ = kNoFile;
    QString path_;
    qint64 end_ = 0;
    QByteArray block_; // reused for every block
    QByteArray eventText_;
    qint64 lost_ = 0;
    bool refused_ = false;  // in an episode of refused writes
    bool tornTail_ = false; // a torn block could not be cut away yet
};

} // namespace qav::worklog
