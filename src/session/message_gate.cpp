#include "session/message_gate.h"

#include <algorithm>

namespace qav::session {

MessageGate::MessageGate(MessageSink& sink, QObject* parent) : QObject(parent), sink_(sink) {}

void MessageGate::beginRun() {
    inRun_ = true;
    shownInRun_.clear();
}

void MessageGate::endRun() {
    inRun_ = false;
    shownInRun_.clear();
}

bool MessageGate::holdsRun() const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& e) { return e.urgency == NeedsAction; });
}

void MessageGate::show(const QString& text, std::function<void()> afterOk, Urgency urgency) {
    if (inRun_) {
        if (shownInRun_.contains(text)) {
            if (afterOk)
                afterOk();
            return;
        }
        shownInRun_.append(text);
    }
    for (Entry& e : entries_) {
        if (e.text == text) {
            if (afterOk)
                e.afterOk.append(std::move(afterOk));
            if (urgency == NeedsAction)
                e.urgency = NeedsAction;
            return;
        }
    }
    Entry entry{text, {}, urgency};
    if (afterOk)
        entry.afterOk.append(std::move(afterOk));
    entries_.append(std::move(entry));
    if (!open_)
        showNext();
}

void MessageGate::showNext() {
    if (entries_.isEmpty())
        return;
    const bool wasOpen = open_;
    open_ = true;
    if (!wasOpen)
        emit opened();
    // A recorder acknowledges inside show(); the box counts as open until then.
    sink_.show(entries_.first().text, [this] { closeCurrent(); });
}

void MessageGate::closeCurrent() {
    if (entries_.isEmpty())
        return;
    const Entry done = entries_.takeFirst();
    emit closed();
    if (entries_.isEmpty()) {
        open_ = false;
        emit allClosed();
    } else {
        showNext();
    }
    for (const auto& afterOk : done.afterOk)
        afterOk();
}

} // namespace qav::session
