#pragma once
// The main window: the form, the 200 ms acquisition loop, the history download, the device
// menus, language switching and the file commands.
#include "gqwtplot.h"
#include "scodeusb.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTranslator>

class QAction;
class GRecordChannel;
struct TAG_T_SPM25Data;

namespace Ui {
class PM2_5;
}

// Registers the embedded icons and catalogues (resources compiled into a static library are
// dropped by the linker unless something references them).
void Vostral_InitResources();

class PM2_5 : public QMainWindow {
    Q_OBJECT

public:
    explicit PM2_5(QWidget* parent = nullptr);
    ~PM2_5() override;

    void CreateRecordData();
    void SetupPlot();
    void InitDeviceMenu();
    bool PollDevice(int index);
    bool ShowValues(int channel, int code);
    void ShowDeviceName(int index);
    void SetCollectState(bool collecting);
    QString TrackerValueText(double x);
    QString AskSaveFileName(int kind, const QString& folder);
    void ReleaseRecordData();

    SCodeUsb m_CodeUsb;
    GRecordChannel* m_RecordData = nullptr;
    int m_HisInterval = 0;
    Ui::PM2_5* ui = nullptr;
    QList<QAction*> m_DeviceActions;
    QList<QAction*> m_SetDeviceActions;
    GQwtPlot m_Plot;
    QTranslator m_Translator;
    int m_Language = 1;
    int m_TimerId = 0;
    int m_SeriesCount = 0;
    int m_CurChannel = 0;
    int m_Identified = 0;

    // Number of elements of m_RecordData (0 while there is no array).
    int m_ChannelCount = 0;
    // A history download is running: the poll is held and the window's commands are disabled.
    bool m_Downloading = false;
    // Closing or Exit was asked for during a download: the download was cancelled, and the window
    // closes (after Exit: releases its channels and closes) as soon as the download has returned.
    bool m_CloseAfterDownload = false;
    bool m_ExitAfterDownload = false;
public slots:
    void on_actionExit_triggered();
    void on_actionBinary_triggered();
    void on_actionOpen_triggered();
    void on_actionChinese_triggered();
    void on_actionEnglish_triggered();
    void on_actionTime_zoom_in_triggered();
    void on_actionTime_zoom_out_triggered();
    void my_actionDevice1_triggered();
    void my_actionSetDevice1_triggered();
    void on_actionAbout_Software_triggered();
    void on_actionDisplay_all_triggered();
    void on_actionNodisplay_triggered();
    void on_actionCollection_triggered();
    void on_actionCollect_historical_data_triggered();
    void on_radioButtonPM25_clicked();
    void on_radioButtonPA_clicked();
    void on_actionAbout_Vostral_triggered();
    void on_actionExecl_triggered();
    void on_actionClear_history_data_triggered();
    QString FileExcelToStr(QString fileName);

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowCurve(int index, bool visible);
    void ShowAllCurves(bool visible);
    void ZoomCurrent(bool in);
    void SetLanguage(int language);
};
