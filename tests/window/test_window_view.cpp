// What the plot shows: the device items of "Display", the tracker's value text, and the device
// information dialog opened from "DeviceInfo".
#include "windowtest.h"

#include "deviceinfodialog.h"
#include "grecorddatapro.h"
#include "ui_deviceinfodialog.h"
#include "ui_pm2_5.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <qwt_plot_curve.h>

#include <vector>

namespace {

// Shown points put by hand into a series, and taken out again before the series is freed.
class ShownPoints {
public:
    ShownPoints(_SRealData* series, std::vector<double> sec, std::vector<double> v1, std::vector<double> v2)
        : m_Series(series), m_Sec(std::move(sec)), m_V1(std::move(v1)), m_V2(std::move(v2)), m_Saved(*series)
    {
        series->m_pShowSec = m_Sec.data();
        series->m_pShowValue1 = m_V1.data();
        series->m_pShowValue2 = m_V2.data();
        series->m_ShowCount = int(m_Sec.size());
    }
    ~ShownPoints()
    {
        m_Series->m_pShowSec = m_Saved.m_pShowSec;
        m_Series->m_pShowValue1 = m_Saved.m_pShowValue1;
        m_Series->m_pShowValue2 = m_Saved.m_pShowValue2;
        m_Series->m_ShowCount = m_Saved.m_ShowCount;
    }

private:
    _SRealData* m_Series;
    std::vector<double> m_Sec, m_V1, m_V2;
    _SRealData m_Saved;
};

} // namespace

class TestWindowView : public QObject {
    Q_OBJECT

    std::unique_ptr<PM2_5> w;

    _SRealData* ShownSeries() { return w->m_RecordData[w->m_CurChannel].m_pCurrent->m_pRealData; }

private slots:
    void init() { w = MakeWindowWithoutSensor(); }
    void cleanup() { w.reset(); }

    void trackerValueText_data()
    {
        QTest::addColumn<int>("seriesCount");
        QTest::addColumn<double>("x");
        QTest::addColumn<QString>("text");
        QTest::newRow("left of the first point takes it") << 1 << -50.0 << "12.3";
        QTest::newRow("exact second") << 1 << 10.0 << "12.3";
        QTest::newRow("cut toward zero: 10.9 is 10") << 1 << 10.9 << "12.3";
        QTest::newRow("next point") << 1 << 10.01 << "12.3";
        QTest::newRow("between points takes the later") << 1 << 11.0 << "0";
        QTest::newRow("last point") << 1 << 20.0 << "150";
        QTest::newRow("right of the last gives nothing") << 1 << 21.0 << QString();
        QTest::newRow("far off the axis") << 1 << 1e300 << QString();
        QTest::newRow("both values with PM10") << 2 << 15.0 << "0 5.5";
    }

    void trackerValueText()
    {
        QFETCH(int, seriesCount);
        QFETCH(double, x);
        QFETCH(QString, text);
        w->m_SeriesCount = seriesCount;
        ShownPoints points(ShownSeries(), {10, 15.5, 20.7}, {12.39, 0.08, 150.0}, {1, 5.55, 2});
        const QString got = w->TrackerValueText(x);
        QCOMPARE(got, text);
        QCOMPARE(got.isNull(), text.isNull());
    }

    void trackerWithoutShownPoints()
    {
        QVERIFY(w->TrackerValueText(0).isNull());
        w->ReleaseRecordData();
        QVERIFY(w->TrackerValueText(0).isNull());
    }

    void deviceItemsShowAndHideCurves()
    {
        PretendSerialSensor(*w);
        w->CreateRecordData();
        QCOMPARE(w->m_DeviceActions.size(), 1);
        QCOMPARE(w->m_SetDeviceActions.size(), 1);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("device0"));
        QCOMPARE(w->m_SetDeviceActions[0]->text(), QStringLiteral("device0"));
        QVERIFY(w->m_DeviceActions[0]->isCheckable());
        QVERIFY(w->m_DeviceActions[0]->isChecked());
        QVERIFY(!w->m_SetDeviceActions[0]->isCheckable());
        QCOMPARE(w->ui->menuDisplay->actions().size(), 3);
        QCOMPARE(w->ui->menuDisplay->actions()[2], w->m_DeviceActions[0]);
        QCOMPARE(w->ui->menuSetName->actions(), w->m_SetDeviceActions);

        // The plot's own curve when it has one; otherwise one made here for the test.
        QwtPlotCurve* ownCurve = nullptr;
        if (w->m_Plot.mCurves.isEmpty()) {
            ownCurve = new QwtPlotCurve;
            ownCurve->attach(w->ui->qwtPlot);
            w->m_Plot.mCurves.append(ownCurve);
        }
        QwtPlotCurve* curve = w->m_Plot.mCurves[0];
        QVERIFY(curve->isVisible());
        w->m_DeviceActions[0]->trigger();
        QVERIFY(!w->m_DeviceActions[0]->isChecked());
        QVERIFY(!curve->isVisible());
        w->ui->actionDisplay_all->trigger();
        QVERIFY(w->m_DeviceActions[0]->isChecked());
        QVERIFY(curve->isVisible());
        w->ui->actionNodisplay->trigger();
        QVERIFY(!w->m_DeviceActions[0]->isChecked());
        QVERIFY(!curve->isVisible());
        w->m_DeviceActions[0]->trigger();
        QVERIFY(curve->isVisible());
        if (ownCurve) {
            w->m_Plot.mCurves.removeAll(ownCurve);
            delete ownCurve;
        }
    }

    // More items than curves: the item still toggles, nothing else happens.
    void deviceItemWithoutCurve()
    {
        PretendSerialSensor(*w);
        w->m_Plot.ClearItems();
        QVERIFY(w->m_Plot.mCurves.isEmpty());
        w->m_DeviceActions[0]->trigger();
        QVERIFY(!w->m_DeviceActions[0]->isChecked());
        w->ui->actionDisplay_all->trigger();
        QVERIFY(w->m_DeviceActions[0]->isChecked());
    }

    void deviceNameReplacesItemTexts()
    {
        w->ShowDeviceName(0); // no sensor, no items: nothing happens
        PretendSerialSensor(*w);
        w->ShowDeviceName(0); // no entry yet: the items keep "device0"
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("device0"));
        w->m_CodeUsb.m_Devices.append(TAG_T_SDeviceInfo{nullptr, "LV51", "01ab02030405"});
        if (w->m_CodeUsb.GetDeviceName(0).isEmpty())
            QSKIP("the codec's getters are not built yet");
        w->ShowDeviceName(3);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("device0"));
        w->ShowDeviceName(0);
        QCOMPARE(w->m_DeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->m_SetDeviceActions[0]->text(), QStringLiteral("LV51"));
        QCOMPARE(w->ui->labelDevType->text(), QString::fromLatin1(w->m_CodeUsb.GetModelName()));
    }

    void dialogForm()
    {
        DeviceInfoDialog d;
        QCOMPARE(d.objectName(), QStringLiteral("DeviceInfoDialog"));
        QCOMPARE(d.size(), QSize(270, 130));
        QCOMPARE(d.windowTitle(), QStringLiteral("设备信息"));
        QCOMPARE(d.ui->label_2->text(), QStringLiteral("序列号："));
        QCOMPARE(d.ui->label->text(), QStringLiteral("设备名："));
        QCOMPARE(d.ui->pushButton->text(), QStringLiteral("确定"));
        QCOMPARE(d.ui->labelSN->text(), QStringLiteral("TextLabel"));
        QCOMPARE(d.ui->label_2->maximumWidth(), 100);
        QStringList rows;
        for (int i = 0; i < d.layout()->count(); ++i)
            rows << d.layout()->itemAt(i)->layout()->objectName();
        QCOMPARE(rows, QStringList({"horizontalLayout", "horizontalLayout_4", "horizontalLayout_3"}));
        d.show();
        QVERIFY(d.isVisible());
        d.ui->pushButton->click();
        QVERIFY(!d.isVisible());

        w->ui->actionEnglish->trigger();
        DeviceInfoDialog english;
        QCOMPARE(english.ui->label_2->text(), QStringLiteral("Serial number："));
        QCOMPARE(english.ui->label->text(), QStringLiteral("Device name："));
        QCOMPARE(english.windowTitle(), QStringLiteral("DeviceInfo"));
        // The English captions are wider than the 100 px the Chinese ones need: never cut.
        for (QLabel* caption : {english.ui->label_2, english.ui->label})
            QVERIFY(caption->maximumWidth() >= caption->fontMetrics().horizontalAdvance(caption->text()));
    }

    // A serial-linked device has no entry until it answers, but its item is there already.
    void dialogForDeviceWithoutEntry()
    {
        DeviceInfoDialog d;
        QCOMPARE(d.SetDeviceInfo(0, w.get()), 0);
        QCOMPARE(d.ui->labelSN->text(), QString());
        QCOMPARE(d.ui->labelDeviceName->text(), QString());
        QCOMPARE(d.m_Index, 0);
        QCOMPARE(d.m_Window, w.get());
        d.SetDeviceInfo(-1, w.get());
        QCOMPARE(d.ui->labelSN->text(), QString());
    }

    void dialogShowsNameAndUpperCaseSerial()
    {
        w->m_CodeUsb.m_Devices.append(TAG_T_SDeviceInfo{nullptr, QByteArray("lv51"), QByteArray("01ab")});
        if (w->m_CodeUsb.GetDeviceSN(0).isEmpty())
            QSKIP("the codec's getters are not built yet");
        DeviceInfoDialog d;
        d.SetDeviceInfo(0, w.get());
        QCOMPARE(d.ui->labelSN->text(), QStringLiteral("01AB"));
        QCOMPARE(d.ui->labelDeviceName->text(), QStringLiteral("lv51"));
        d.SetDeviceInfo(1, w.get());
        QCOMPARE(d.ui->labelSN->text(), QString());
    }

    void dialogOpensModallyFromMenu()
    {
        PretendSerialSensor(*w);
        QString title;
        QString serial = QStringLiteral("unset");
        bool modal = false;
        ModalCloser closer([&](QWidget* box) {
            auto* d = qobject_cast<DeviceInfoDialog*>(box);
            if (!d)
                return;
            title = d->windowTitle();
            serial = d->ui->labelSN->text();
            modal = d->isModal() && d->parentWidget() == nullptr;
            d->ui->pushButton->click();
        });
        w->m_SetDeviceActions[0]->trigger();
        QCOMPARE(closer.Closed(), 1);
        QCOMPARE(title, QStringLiteral("设备信息"));
        QCOMPARE(serial, QString());
        QVERIFY(modal);
    }
};

QTEST_MAIN(TestWindowView)
#include "test_window_view.moc"
