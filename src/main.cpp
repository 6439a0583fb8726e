#include "messageiconstyle.h"
#include "pm2_5.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    // Sharp icons and text on high-DPI screens: the icons come with 64 px drawings.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    Vostral_InitResources();
    MessageIconStyle_Install();
    QIcon icon(QStringLiteral(":/icons/Icons/vostral-monitor.png"));
    icon.addFile(QStringLiteral(":/icons/Icons/vostral-monitor-256.png"));
    app.setWindowIcon(icon);
    PM2_5 window;
    window.show();
    return app.exec();
}
