// Shows the main window (and optionally the device dialog) the way a user sees it without a
// sensor, for screenshots under Xvfb: docs/screenshots.sh runs it and captures the screen.
//
//   vostral-window-shots [en] [values] [dialog]
//     en      switch to English after start-up
//     values  put sample readings into the value fields
//     dialog  open the device information dialog for a sample device beside the window
#include "windowtest.h"

#include "deviceinfodialog.h"
#include "grecorddatapro.h"

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    Vostral_InitResources();
    const QStringList args = app.arguments();
    QList<BoxSeen> boxes;
    std::unique_ptr<PM2_5> w = MakeWindowWithoutSensor(&boxes);
    if (args.contains(QStringLiteral("en")))
        w->on_actionEnglish_triggered();
    if (args.contains(QStringLiteral("values"))) {
        for (int c = 0; c < w->m_ChannelCount; ++c) {
            _SRealData* series = w->m_RecordData[c].m_pRealTime->m_pRealData;
            RealData_Add(series, c == 0 ? 35.2 : 0.046, c == 0 ? 123.7 : 0, 1, series->org_pts);
        }
        w->ShowValues(0, 1);
        w->ShowValues(1, 17);
    }
    w->move(0, 0);
    w->show();

    std::unique_ptr<DeviceInfoDialog> dialog;
    if (args.contains(QStringLiteral("dialog"))) {
        w->m_CodeUsb.m_Devices.append(TAG_T_SDeviceInfo{nullptr, "LV51", "01ab02030405"});
        dialog = std::make_unique<DeviceInfoDialog>();
        dialog->SetDeviceInfo(0, w.get());
        dialog->move(1080, 40);
        dialog->show();
    }
    return app.exec();
}
