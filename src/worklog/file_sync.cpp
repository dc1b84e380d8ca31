#include "worklog/file_sync.h"

namespace qav::worklog {

SyncedFile::~SyncedFile() {
    closeFile(fd);
}

FileSync::FileSync(std::chrono::milliseconds gap) : gap_(gap), thread_([this] { run(); }) {}

FileSync::~FileSync() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void FileSync::setFile(std::shared_ptr<SyncedFile> file) {
    std::lock_guard lock(mutex_);
    file_ = std::move(file);
}

void FileSync::written() {
    if (dirty_.exchange(true))
        return;
    std::lock_guard lock(mutex_);
    wake_.notify_one();
}

void FileSync::letGo(std::shared_ptr<SyncedFile> file) {
    std::lock_guard lock(mutex_);
    retired_.push_back(std::move(file));
    wake_.notify_one();
}

void FileSync::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || dirty_ || !retired_.empty(); });
        std::vector<std::shared_ptr<SyncedFile>> retired;
        retired.swap(retired_);
        const bool sync = dirty_.exchange(false);
        const std::shared_ptr<SyncedFile> file = file_;
        lock.unlock();
        retired.clear();
        if (sync && file && file->fd != kNoFile && file->named)
            syncFile(file->fd);
        lock.lock();
        if (stop_ && !dirty_ && retired_.empty())
            return;
        if (sync)
            wake_.wait_for(lock, gap_, [this] { return stop_ || !retired_.empty(); });
    }
}

} // namespace qav::worklog
