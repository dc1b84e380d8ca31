#include "worklog/capture_file.h"

#include <QDir>
#include <algorithm>
#include <chrono>

namespace qav::worklog {

namespace {
constexpr const char* kNotWritten = "抓包文件未能写入";
constexpr const char* kLostPackets = "抓包文件丢失 %1 个数据包";
constexpr const char* kNotAFile = "not a regular file";
} // namespace

CaptureFile::CaptureFile(QObject* parent) : QObject(parent) {}

CaptureFile::~CaptureFile() {
    close();
}

std::optional<QString> CaptureFile::open(const QString& path) {
    close();
    // A pipe with no reader does not hold the caller up; it is refused below
    // with everything else that is not a plain file.
    const FileHandle fd = openForWriting(path);
    if (fd == kNoFile)
        return errorText(lastFileError());
    if (kindOf(fd) != FileKind::Plain) {
        closeFile(fd);
        return QString::fromLatin1(kNotAFile);
    }
    if (const int e = truncateFile(fd, 0)) {
        closeFile(fd);
        return errorText(e);
    }
    fd_ = fd;
    path_ = path;
    end_ = 0;
    lost_ = 0;
    refused_ = false;
    tornTail_ = false;
    block_ = pcapng::sectionHeaderBlock(kUserApplication) +
             pcapng::interfaceDescriptionBlock(kInterfaceName);
    if (const int e = writeBlock()) {
        closeFile(fd_);
        fd_ = kNoFile;
        removeFile(path);
        path_.clear();
        end_ = 0;
        return errorText(e);
    }
    return std::nullopt;
}

void CaptureFile::close() {
    closeFile(fd_);
    fd_ = kNoFile;
}

qint64 CaptureFile::nowMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void CaptureFile::frameSent(QByteArrayView frame, qint64 micros) {
    record(PacketKind::FrameOut, frame, micros);
}

void CaptureFile::serialReceived(QByteArrayView bytes, qint64 micros) {
    // Every byte is kept: a chunk longer than a packet takes several.
    for (qsizetype at = 0; at < bytes.size(); at += pcapng::kMaxPacketData)
        record(PacketKind::SerialIn,
               bytes.sliced(at, std::min(pcapng::kMaxPacketData, bytes.size() - at)), micros);
}

void CaptureFile::usbReportWritten(QByteArrayView report, qint64 micros) {
    record(PacketKind::UsbReportOut, report, micros);
}

void CaptureFile::usbReportRead(QByteArrayView report, qint64 micros) {
    record(PacketKind::UsbReportIn, report, micros);
}

void CaptureFile::event(const QString& text, qint64 micros) {
    if (fd_ == kNoFile)
        return;
    eventText_ = text.toUtf8();
    record(PacketKind::Event, eventText_, micros);
}

void CaptureFile::record(PacketKind kind, QByteArrayView data, qint64 micros) {
    if (fd_ == kNoFile)
        return;
    const quint64 time = quint64(std::max<qint64>(micros, 0));
    block_.resize(0); // keeps its capacity
    if (lost_ > 0) {
        // Goes in the same write as the packet: both are there, or neither.
        const QByteArray notice = QString::fromUtf8(kLostPackets).arg(lost_).toUtf8();
        pcapng::appendEnhancedPacketBlock(block_, time, PacketKind::Event, notice);
    }
    pcapng::appendEnhancedPacketBlock(block_, time, kind, data);
    const int error = writeBlock();
    if (error == 0) {
        lost_ = 0;
        refused_ = false;
        return;
    }
    ++lost_;
    if (!refused_) {
        refused_ = true;
        emit storageProblem(QString::fromUtf8(kNotWritten) + QDir::toNativeSeparators(path_) +
                            QStringLiteral("：") + errorText(error) + QStringLiteral("。"));
    }
}

// block_ goes to the end of the last whole block, in one write. What a failed
// write left of it is cut off again, so that the next block follows a whole
// one; when even that fails, the next write goes over it and the cut is tried
// again after it.
int CaptureFile::writeBlock() {
    qsizetype written = 0;
    const int error = writeAt(fd_, block_.constData(), block_.size(), end_, written);
    if (error == 0) {
        end_ += written;
        if (tornTail_)
            tornTail_ = truncateFile(fd_, end_) != 0;
        return 0;
    }
    if (written > 0 || tornTail_)
        tornTail_ = truncateFile(fd_, end_) != 0;
    return error;
}

} // namespace qav::worklog
