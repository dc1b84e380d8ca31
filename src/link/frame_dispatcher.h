#pragma once
// The single road by which every frame leaves the console: the active link.
// Choosing a link only changes where frames go; the other link stays as it
// is (a serial port stays open and keeps delivering replies).

#include "link/link.h"

#include <QByteArrayView>

namespace qav::link {

class FrameDispatcher {
public:
    explicit FrameDispatcher(Link& active) : active_(&active) {}

    void setActiveLink(Link& link) { active_ = &link; }
    Link& activeLink() const { return *active_; }
    bool isActive(const Link& link) const { return active_ == &link; }

    // Hands the frame to the active link, which writes it or lets it wait
    // behind the frame under way.
    void dispatch(QByteArrayView frame) {
        if (!frame.isEmpty())
            active_->writeFrame(frame);
    }
    // Frames still waiting for the active link are not sent (each is
    // reported dropped), so that what comes next goes out first.
    void dropWaiting() { active_->dropWaiting(); }

private:
    Link* active_;
};

} // namespace qav::link
