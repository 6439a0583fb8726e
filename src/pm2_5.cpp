#include "pm2_5.h"

#include "grecorddatapro.h"
#include "gqwtplotpicker.h"
#include "platformtime.h"
#include "ui_pm2_5.h"
#include "windowlog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>

Q_LOGGING_CATEGORY(lcWindow, "vostral.window", QtInfoMsg)

void Vostral_InitResources() { Q_INIT_RESOURCE(vostral); }

PM2_5::PM2_5(QWidget* parent) : QMainWindow(parent), ui(new Ui::PM2_5)
{
    Vostral_InitResources();
    ui->setupUi(this);

    // The window always starts in Chinese; a missing catalogue leaves the English source texts.
    m_Translator.load(QStringLiteral(":/cn.qm"));
    QCoreApplication::installTranslator(&m_Translator);
    ui->retranslateUi(this);

    m_CodeUsb.OpenDevices();
    m_CodeUsb.AskDeviceInfo();
    m_SeriesCount = m_CodeUsb.HasUsbDevice();
    if (m_SeriesCount == 0) {
        // No sensor on the bus: try the USB-serial bridge.
        m_CodeUsb.m_Serial.m_LinkFlag = m_CodeUsb.m_Serial.OpenDevicePort();
        if (m_CodeUsb.m_Serial.m_LinkFlag == 1) {
            m_CodeUsb.AskDeviceInfo();
            Platform_SleepMs(50);
            m_SeriesCount = 1;
        }
    }
    qCDebug(lcWindow) << "sensors opened:" << m_SeriesCount << "serial link:" << m_CodeUsb.m_Serial.m_LinkFlag;

    InitDeviceMenu();
    m_Plot.mTitleDate = Platform_CurrentDateTime();

    if (m_SeriesCount == 0) {
        QMessageBox::warning(nullptr, tr("open device error"), tr("please check the device is connected!"),
                             QMessageBox::Ok, QMessageBox::NoButton);
        // Without a device the window still gets its channels (two: the type is unknown) and the
        // plot, so that records can be opened and shown.
        CreateRecordData();
    }

    m_TimerId = startTimer(200, Qt::CoarseTimer);
}

PM2_5::~PM2_5()
{
    ReleaseRecordData();
    close();
    delete ui;
    ui = nullptr;
}

void PM2_5::InitDeviceMenu()
{
    ui->radioButtonPM25->setChecked(true);
    m_DeviceActions.clear();
    m_SetDeviceActions.clear();
    ui->actionCollect_historical_data->setEnabled(true);
    ui->labelPM10->hide();
    ui->lineEditPM10Value->hide();
    ui->labelPM10Unit->hide();

    // One "Display" check item and one "DeviceInfo" item per opened device. The items keep
    // their place for good; the device's name replaces the text once it has identified itself.
    for (int i = 0; i < m_SeriesCount; ++i) {
        const QString text = QStringLiteral("device%1").arg(i);
        QAction* show = ui->menuDisplay->addAction(text, this, &PM2_5::my_actionDevice1_triggered);
        show->setCheckable(true);
        show->setChecked(true);
        m_DeviceActions.append(show);
        m_SetDeviceActions.append(ui->menuSetName->addAction(text, this, &PM2_5::my_actionSetDevice1_triggered));
    }
}

void PM2_5::CreateRecordData()
{
    if (m_RecordData)
        return;
    // The window knows two quantities at most: particulates and one gas.
    const int n = qBound(1, m_CodeUsb.GetChannelCount(), 2);
    m_RecordData = new GRecordChannel[n];
    m_ChannelCount = n;
    for (int i = 0; i < n; ++i)
        m_RecordData[i].Create();
    g_RecordData = m_RecordData;

    // The gas channel may have been chosen while the device was still unknown.
    if (m_CurChannel >= n) {
        m_CurChannel = 0;
        ui->radioButtonPM25->setChecked(true);
    }
    SetupPlot();

    if (n != 2) {
        ui->radioButtonPA->hide();
        ui->lineEditPAValue->hide();
        ui->label_2->hide();
    }
}

void PM2_5::SetupPlot()
{
    if (!m_RecordData)
        return;
    for (int i = 0; i < m_ChannelCount; ++i) {
        m_RecordData[i].StartRealTime();
        m_RecordData[i].m_pRealTime->UpdateStartFields();
    }
    const GRecordDataPro* shown = m_RecordData[m_CurChannel].m_pRealTime;
    m_Plot.SetPlot(ui->qwtPlot);
    m_Plot.InitPlot(shown->m_StartTime, shown->m_pRealData->org_pts, m_SeriesCount);
    for (int i = 0; i < m_ChannelCount; ++i)
        RealData_Rebuild(m_RecordData[i].m_pRealTime->m_pRealData);
    if (m_Plot.mPicker)
        m_Plot.mPicker->SetValueSource([this](double x) { return TrackerValueText(x); });
}

void PM2_5::ReleaseRecordData()
{
    m_Plot.ClearItems();
    if (g_RecordData == m_RecordData)
        g_RecordData = nullptr;
    delete[] m_RecordData;
    m_RecordData = nullptr;
    m_ChannelCount = 0;
}

void PM2_5::on_actionExit_triggered()
{
    // The running download holds the channels: they go once it has returned.
    if (m_Downloading) {
        m_ExitAfterDownload = true;
        m_CodeUsb.CancelHistoryDownload();
        return;
    }
    ReleaseRecordData();
    close();
}

void PM2_5::closeEvent(QCloseEvent* event)
{
    // On the serial link a download lets the event loop run, so the window can be closed in the
    // middle of it. The download is cancelled and the window closes once it has returned, rather
    // than staying hidden while the download waits out a device that no longer answers.
    if (m_Downloading) {
        m_CloseAfterDownload = true;
        m_CodeUsb.CancelHistoryDownload();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
