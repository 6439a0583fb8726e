// The window against a simulated sensor on an emulated USB bus or behind an emulated
// USB-serial bridge: construction, identity, the live values, and the start of a serial device.
#include "windowtest.h"

#include "deviceinfodialog.h"
#include "grecorddatapro.h"
#include "simserialbridge.h"
#include "simusbbus.h"
#include "ui_deviceinfodialog.h"
#include "ui_pm2_5.h"

#include <QtTest>

namespace {

SensorConfig Sensor(int type, const char name[4], SimReading reading)
{
    SensorConfig config;
    config.typeCode = type;
    config.name = {{uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3])}};
    config.readings = SimReadingSource::Constant(reading);
    return config;
}

// Builds the window with the sensor plugged in; `boxes` counts the modal boxes it raised.
std::unique_ptr<PM2_5> MakeWindow(int* boxes)
{
    ModalCloser closer([boxes](QWidget*) { ++*boxes; });
    return std::make_unique<PM2_5>();
}

} // namespace

class TestWindowSensor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Vostral_InitResources(); }

    void usbSensorIdentifiesAndShowsReadings()
    {
        SimUsbBus bus;
        SimUsbDevice* device = bus.AddSensor(Sensor(130, "LV51", {35.2, 123.7, 0}));
        QVERIFY2(device, bus.LastError().c_str());
        int boxes = 0;
        std::unique_ptr<PM2_5> w = MakeWindow(&boxes);

        // A sensor was opened: no warning, one device item each, no channels before the identity.
        QCOMPARE(boxes, 0);
        QCOMPARE(w->m_SeriesCount, 1);
        QCOMPARE(w->m_CodeUsb.m_Serial.m_LinkFlag, -1);
        QVERIFY(!w->m_RecordData);
        QCOMPARE(w->m_DeviceActions.size(), 1);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("device0"));
        QVERIFY(device->Model()->CountRequests(0xA6) >= 1);
        QVERIFY(!w->ui->radioButtonPA->isHidden());

        // The poll timer does the rest.
        QTRY_COMPARE_WITH_TIMEOUT(w->m_Identified, 1, 10000);
        QCOMPARE(w->m_SeriesCount, 2);
        QVERIFY(w->m_RecordData);
        QCOMPARE(w->m_ChannelCount, 1);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->m_SetDeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->ui->labelDevType->text(), QStringLiteral("LV51"));
        QVERIFY(w->ui->actionClear_history_data->isEnabled());
        QVERIFY(!w->ui->labelPM10->isHidden());
        QVERIFY(w->ui->radioButtonPA->isHidden());
        QCOMPARE(w->m_Plot.mCurves.size(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(w->ui->lineEditValue->text(), QStringLiteral("35.2"), 10000);
        QCOMPARE(w->ui->lineEditPM10Value->text(), QStringLiteral("123"));
        QVERIFY(w->m_RecordData[0].m_pRealTime->m_pRealData->m_DataCount >= 1);
    }

    // Until the identity answer arrives, every particulate reading asks for it again.
    void readingsBeforeIdentityRepeatTheRequest()
    {
        SimUsbBus bus;
        SimUsbDevice* device = bus.AddSensor(Sensor(20, "AQ33", {50, 60, 0.08}));
        QVERIFY2(device, bus.LastError().c_str());
        device->Model()->DropAnswers(1);
        int boxes = 0;
        std::unique_ptr<PM2_5> w = MakeWindow(&boxes);
        QTRY_COMPARE_WITH_TIMEOUT(w->m_Identified, 1, 10000);
        QVERIFY(device->Model()->CountRequests(0xA6) >= 2);
        QCOMPARE(w->m_ChannelCount, 2);
        QCOMPARE(w->m_HisInterval, 297);
        QTRY_COMPARE_WITH_TIMEOUT(w->ui->lineEditPAValue->text(), QStringLiteral("0.08"), 10000);
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("甲醛"));
    }

    void serialBridgeWhenNoUsbSensor()
    {
        SensorConfig config = Sensor(20, "AB12", {12.3, 20, 0.5});
        config.gas = SimGas::Tvoc;
        SimSerialBridge bridge(config);
        QVERIFY2(bridge.IsValid(), bridge.LastError().c_str());
        int boxes = 0;
        std::unique_ptr<PM2_5> w = MakeWindow(&boxes);
        QCOMPARE(boxes, 0);
        QCOMPARE(w->m_CodeUsb.m_Serial.m_LinkFlag, 1);
        QCOMPARE(w->m_SeriesCount, 1);
        QCOMPARE(w->m_SetDeviceActions.size(), 1);
        QVERIFY(bridge.LineViolations().empty());

        // The device's entry comes with its first answer; the dialog is safe before that.
        QCOMPARE(w->m_CodeUsb.DeviceCount(), 0);
        DeviceInfoDialog early;
        early.SetDeviceInfo(0, w.get());
        QCOMPARE(early.ui->labelSN->text(), QString());
        QCOMPARE(early.ui->labelDeviceName->text(), QString());

        QTRY_COMPARE_WITH_TIMEOUT(w->m_Identified, 1, 10000);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("AB12"));
        QTRY_COMPARE_WITH_TIMEOUT(w->ui->radioButtonPA->text(), QStringLiteral("TVOC"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w->ui->lineEditPAValue->text(), QStringLiteral("0.5"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w->ui->lineEditValue->text(), QStringLiteral("12.3"), 10000);
        QVERIFY(bridge.Model()->CountRequests(0xB5) >= 1);
        // Once the device has sent its 14-digit serial number, its readings carry its name.
        QTRY_COMPARE_WITH_TIMEOUT(w->m_DeviceActions[0]->text(), QStringLiteral("1000-4207"), 10000);
        DeviceInfoDialog later;
        later.SetDeviceInfo(0, w.get());
        QCOMPARE(later.ui->labelSN->text(), QStringLiteral("20240510004207")); // the 0xB5 answer
        QCOMPARE(later.ui->labelDeviceName->text(), QStringLiteral("1000-4207"));
    }
};

QTEST_MAIN(TestWindowSensor)
#include "test_window_sensor.moc"
