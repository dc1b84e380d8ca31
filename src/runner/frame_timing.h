#pragma once
// The timing CSV: one row per frame of a run, as the reply matcher settles it.

#include "protocol/reply_matcher.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

namespace qav::runner {

using protocol::FrameTiming;
using protocol::ReplyMatcher;

// Writes the rows of a timing CSV as they come, each flushed at once:
//   sent,command,length,ms_to_41,ms_to_4F,step
class TimingCsv {
public:
    // The reason when the file cannot be written.
    std::optional<QString> open(const QString& path);
    bool isOpen() const { return file_.isOpen(); }
    void write(const FrameTiming& row);
    // The reason when a row could not be written, or the file not closed.
    std::optional<QString> close();
    static QByteArray header();
    static QByteArray row(const FrameTiming& row);

private:
    QFile file_;
    std::optional<QString> error_;
};

} // namespace qav::runner
