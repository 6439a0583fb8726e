#include "pm2_5.h"

#include "grecorddatapro.h"

// Placeholder: the window lands with the window work.
void Vostral_InitResources() { Q_INIT_RESOURCE(vostral); }

namespace Ui {
class PM2_5 {};
}

PM2_5::PM2_5(QWidget* parent) : QMainWindow(parent) { Vostral_InitResources(); }
PM2_5::~PM2_5() {}
void PM2_5::CreateRecordData() {}
void PM2_5::SetupPlot() {}
void PM2_5::InitDeviceMenu() {}
bool PM2_5::PollDevice(int) { return false; }
bool PM2_5::ShowValues(int, int) { return false; }
void PM2_5::ShowDeviceName(int) {}
void PM2_5::SetCollectState(bool) {}
QString PM2_5::TrackerValueText(double) { return {}; }
QString PM2_5::AskSaveFileName(int, const QString&) { return {}; }
void PM2_5::ReleaseRecordData() {}
void PM2_5::on_actionExit_triggered() { close(); }
void PM2_5::on_actionBinary_triggered() {}
void PM2_5::on_actionOpen_triggered() {}
void PM2_5::on_actionChinese_triggered() {}
void PM2_5::on_actionEnglish_triggered() {}
void PM2_5::on_actionTime_zoom_in_triggered() {}
void PM2_5::on_actionTime_zoom_out_triggered() {}
void PM2_5::my_actionDevice1_triggered() {}
void PM2_5::my_actionSetDevice1_triggered() {}
void PM2_5::on_actionAbout_Software_triggered() {}
void PM2_5::on_actionDisplay_all_triggered() {}
void PM2_5::on_actionNodisplay_triggered() {}
void PM2_5::on_actionCollection_triggered() {}
void PM2_5::on_actionCollect_historical_data_triggered() {}
void PM2_5::on_radioButtonPM25_clicked() {}
void PM2_5::on_radioButtonPA_clicked() {}
void PM2_5::on_actionAbout_Vostral_triggered() {}
void PM2_5::on_actionExecl_triggered() {}
void PM2_5::on_actionClear_history_data_triggered() {}
QString PM2_5::FileExcelToStr(QString) { return {}; }
void PM2_5::timerEvent(QTimerEvent*) {}
