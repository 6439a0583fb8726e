// The real window for screenshots of a running monitor: docs/screenshots.sh starts it under the
// simulated sensor's launcher (vostral-sensor-sim ... -- vostral-monitor-shots ...), which plugs
// a sensor into the emulated bus, and captures the screen.
//
//   vostral-monitor-shots [en] [history SECONDS]
//     en               switch to English after start-up
//     history SECONDS  choose "Collect historical data" after SECONDS of live readings
#include "pm2_5.h"

#include "ui_pm2_5.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    Vostral_InitResources();
    const QStringList args = app.arguments();
    PM2_5 window;
    if (args.contains(QStringLiteral("en")))
        window.on_actionEnglish_triggered();
    window.move(0, 0);
    window.show();
    const int at = args.indexOf(QStringLiteral("history"));
    if (at > 0 && at + 1 < args.size()) {
        QTimer::singleShot(args[at + 1].toInt() * 1000, &window,
                           [&window] { window.ui->actionCollect_historical_data->trigger(); });
    }
    return app.exec();
}
