#include "faulttest.h"
#include <fcntl.h>
#include <unistd.h>

class TestX : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { Vostral_InitResources(); }
    void unplugSerial()
    {
        Rig rig(Link::Serial, Sensor(130, "LV51"));
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        QVERIFY(rig.Settle());
        QSerialPort& port = w.m_CodeUsb.m_Serial.m_Port;
        QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
            qInfo() << "error" << e << port.errorString();
        });
        rig.bridge->Unplug();
        rig.Pump(500);
        qInfo() << "open" << port.isOpen() << "error" << port.error();
        unsigned char buf[20];
        qInfo() << "read" << w.m_CodeUsb.m_Serial.ReadBufFromPort(buf, 20) << port.error();
    }
};
QTEST_MAIN(TestX)
#include "test_faults_experiment.moc"
