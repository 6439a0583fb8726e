// Shows the main window (and optionally the device dialog) the way a user sees it without a
// sensor, for screenshots under Xvfb: docs/screenshots.sh runs it and captures the screen.
//
//   vostral-window-shots [en] [values] [dialog]
//     en      switch to English after start-up
//     values  put sample readings into the value fields
//     dialog  open the device information dialog for a sample device beside the window
#include "windowtest.h"

#include "deviceinfodialog.h"

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
        w->m_HasNewest[0] = w->m_HasNewest[1] = true;
        w->m_NewestTenths[0][0] = 352;
        w->m_NewestTenths[0][1] = 1237;
        w->m_NewestTenths[1][0] = 0.46;
        w->m_NewestTenths[1][1] = 0;
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
