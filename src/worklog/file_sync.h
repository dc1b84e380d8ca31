#pragma once
// Syncing a file to the disk without holding up the thread that writes it.
// The writer says written() after each write; a worker thread syncs the file
// soon after, at most once every gap, so a power loss costs at most about a
// gap of what was written. Files let go are closed on the worker too: closing
// a big file that no name reaches frees its blocks, which takes a while.

#include "worklog/native_file.h"

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qav::worklog {

// One open file. The last owner closes it.
struct SyncedFile {
    explicit SyncedFile(FileHandle f, bool isNamed) : fd(f), named(isNamed) {}
    ~SyncedFile();
    SyncedFile(const SyncedFile&) = delete;
    SyncedFile& operator=(const SyncedFile&) = delete;

    const FileHandle fd;
    std::atomic<bool> named; // synced to the disk while it has a name
};

class FileSync {
public:
    explicit FileSync(std::chrono::milliseconds gap);
    ~FileSync(); // the last sync, then the worker ends
    FileSync(const FileSync&) = delete;
    FileSync& operator=(const FileSync&) = delete;

    void setFile(std::shared_ptr<SyncedFile> file);
    void written();
    void letGo(std::shared_ptr<SyncedFile> file);

private:
    void run();

    const std::chrono::milliseconds gap_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> dirty_{false};
    bool stop_ = false;
    std::shared_ptr<SyncedFile> file_;
    std::vector<std::shared_ptr<SyncedFile>> retired_;
    std::thread thread_;
};

} // namespace qav::worklog
