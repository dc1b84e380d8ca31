#pragma once
// The one place that knows which link implementations there are. Everyone
// else sees link::Link and link::SerialLink.

#include "link/serial_link.h"

#include <memory>

class QObject;

namespace qav::link {

class HidBridge;

// The serial link of this platform.
std::unique_ptr<SerialLink> makeSerialLink(QObject* parent = nullptr);
// The USB link over the bridge (hidapi in the program, the bridge emulator in
// tests); none means no bridge is ever found. The link does not own it.
std::unique_ptr<Link> makeUsbLink(HidBridge* bridge, QObject* parent = nullptr);

} // namespace qav::link
