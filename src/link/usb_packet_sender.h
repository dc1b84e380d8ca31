#pragma once
// Cuts frames into USB reports and paces them by the bridge's acknowledgement.
// (Filled in with the USB link.)

#include <QByteArray>
#include <QObject>

namespace qav::link {

class UsbPacketSender : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void send(const QByteArray& frame);
};

} // namespace qav::link
