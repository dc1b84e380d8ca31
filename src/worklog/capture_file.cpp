#include "worklog/capture_file.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qav::worklog {

namespace {
constexpr const char* kNotWritten = "抓包文件未能写入";
constexpr const char* kLostPackets = "抓包文件丢失 %1 个数据包";
constexpr const char* kNotAFile = "not a regular file";

QString errorText(int error) {
    return qt_error_string(error);
}

int truncateTo(int fd, qint64 size) {
    while (::ftruncate(fd, off_t(size)) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}
} // namespace

CaptureFile::CaptureFile(QObject* parent) : QObject(parent) {}

CaptureFile::~CaptureFile() {
    close();
}

std::optional<QString> CaptureFile::open(const QString& path) {
    close();
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: a pipe with no reader must not hold the caller up; it is
    // refused below with everything else that is not a plain file.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return errorText(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return QString::fromLatin1(kNotAFile);
    }
    if (const int e = truncateTo(fd, 0)) {
        ::close(fd);
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
        ::close(fd_);
        fd_ = -1;
        ::unlink(name.constData());
        path_.clear();
        end_ = 0;
        return errorText(e);
    }
    return std::nullopt;
}

void CaptureFile::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

qint64 CaptureFile::nowMicros() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
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
    if (fd_ < 0)
        return;
    eventText_ = text.toUtf8();
    record(PacketKind::Event, eventText_, micros);
}

void CaptureFile::record(PacketKind kind, QByteArrayView data, qint64 micros) {
    if (fd_ < 0)
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
    const char* p = block_.constData();
    qsizetype left = block_.size();
    qint64 at = end_;
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::pwrite(fd_, p, std::size_t(left), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        p += n;
        left -= n;
        at += n;
    }
    if (error == 0) {
        end_ = at;
        if (tornTail_)
            tornTail_ = truncateTo(fd_, end_) != 0;
        return 0;
    }
    if (at > end_ || tornTail_)
        tornTail_ = truncateTo(fd_, end_) != 0;
    return error;
}

} // namespace qav::worklog
