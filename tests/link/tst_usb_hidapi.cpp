// The hidapi bridge on a machine without the bridge attached.

#include "link/hidapi_bridge.h"

#include <QSignalSpy>
#include <QTest>

using namespace qav::link;

class TestUsbHidapi : public QObject {
    Q_OBJECT
private slots:
    void searchWithoutDeviceFindsNothing() {
        HidapiBridge bridge;
        QSignalSpy reports(&bridge, &HidBridge::inputReport);
        QVERIFY(!bridge.find());
        QVERIFY(!bridge.isOpen());
        // Searching again is harmless and still finds nothing.
        QVERIFY(!bridge.find());
        Report report{};
        QVERIFY(!bridge.writeReport(report));
        bridge.close();
        QCOMPARE(reports.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUsbHidapi)
#include "tst_usb_hidapi.moc"
