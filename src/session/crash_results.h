#pragma once
// The crash test's result file: one line per step, written before the step's
// synthesis starts, so that after a hang the last line names what the chip
// was speaking. Every line goes to the system as it is written (nothing is
// buffered in the console) and the file is synced to the disk soon after, at
// most once a second, so that a power loss cannot take the line a hang left.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

namespace qav::session {

class CrashResults : public QObject {
    Q_OBJECT
public:
    static constexpr int kSyncGapMs = 1000;

    explicit CrashResults(QObject* parent = nullptr);
    ~CrashResults() override;

    // Opens the file at path, emptied. The reason when it cannot be opened
    // (a folder or a pipe of that name among them).
    std::optional<QString> open(const QString& path);
    bool isOpen() const { return fd_ >= 0; }
    QString path() const { return path_; }

    // Appends the bytes; the reason when they could not all be written.
    std::optional<QString> append(const QByteArray& bytes);

private:
    void sync();
    void close();

    int fd_ = -1;
    QString path_;
    QElapsedTimer sinceSync_;
    QTimer syncLater_;
};

} // namespace qav::session
