// The history download and the file commands. Their workflows are not built yet: the slots
// exist so that the form's actions stay connected by name.
#include "pm2_5.h"

void PM2_5::on_actionBinary_triggered() {}
void PM2_5::on_actionOpen_triggered() {}
void PM2_5::on_actionCollect_historical_data_triggered() {}
void PM2_5::on_actionExecl_triggered() {}
void PM2_5::on_actionClear_history_data_triggered() {}
QString PM2_5::FileExcelToStr(QString) { return QString(); }
QString PM2_5::AskSaveFileName(int, const QString&) { return QString(); }
