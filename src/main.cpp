#include "pm2_5.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Vostral_InitResources();
    PM2_5 window;
    window.show();
    return app.exec();
}
