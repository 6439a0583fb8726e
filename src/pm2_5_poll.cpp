// The 200 ms acquisition loop: one message from the device per tick, dispatched on its result
// code; the value fields; the collection switch.
#include "pm2_5.h"

#include "grecorddatapro.h"
#include "ui_pm2_5.h"
#include "windowlog.h"
#include "windowtexts.h"

#include <QIcon>

namespace {
const char* const kFadedValueStyle = "color:rgb(240,240,240)";
const char* const kLiveValueStyle = "color:rgb(120,120,120)";
} // namespace

void PM2_5::timerEvent(QTimerEvent*)
{
    // A history download reads the link itself; a poll in between would take its answers.
    if (m_Downloading)
        return;
    PollDevice(0);
}

bool PM2_5::PollDevice(int index)
{
    TAG_T_SPM25Data reading;
    const int code = m_CodeUsb.ReadPM25Data(index, &reading);
    const int type = m_CodeUsb.m_TypeCode;
    switch (code) {
    case kResultNothing:
        return false;
    case kResultPrimary1:
    case kResultPrimary3:
        if (m_Identified == 0) {
            // Readings before the identity answer cannot be filed: ask again.
            m_CodeUsb.AskDeviceInfo();
            return false;
        }
        if (!m_RecordData)
            return false;
        m_RecordData[0].AddReading(reading, 0);
        m_RecordData[0].m_TypeCode = type;
        ShowDeviceName(index);
        ShowValues(0, code);
        break;
    case kResultFormaldehyde:
    case kResultTvoc:
        if (!m_RecordData || m_ChannelCount < 2)
            return false;
        if (type >= 150 && type <= 158) // these models send gas frames they do not measure
            return false;
        m_RecordData[1].AddReading(reading, 1);
        ShowValues(1, code);
        break;
    case kResultSerialNumber:
        m_HisInterval = m_CodeUsb.GetHistoryInterval();
        break;
    case kResultCleared:
        statusBar()->showMessage(tr("Clearing success"), 3000);
        // The device answers a cleared history like an identity request.
        Q_FALLTHROUGH();
    case kResultIdentity:
        m_Identified = 1;
        ShowDeviceName(index);
        m_HisInterval = m_CodeUsb.GetHistoryInterval();
        if (SCodeUsb::ReportsPM10Of(type)) {
            m_SeriesCount = 2;
            ui->labelPM10->show();
            ui->lineEditPM10Value->show();
            ui->labelPM10Unit->show();
        }
        CreateRecordData();
        break;
    default:
        break;
    }
    qCDebug(lcWindow) << "poll: code" << code << "type" << type;

    if (m_RecordData && m_CurChannel < m_ChannelCount && m_RecordData[m_CurChannel].m_Live)
        m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, false);
    return true;
}

void PM2_5::ShowDeviceName(int index)
{
    if (index < 0 || index >= m_DeviceActions.size() || index >= m_SetDeviceActions.size())
        return;
    const QString name = DeviceText(m_CodeUsb.GetDeviceName(index));
    if (name.isEmpty())
        return;
    m_DeviceActions[index]->setText(name);
    m_SetDeviceActions[index]->setText(name);
    if (m_CodeUsb.m_TypeCode == 130)
        ui->actionClear_history_data->setEnabled(true);
    ui->labelDevType->setText(QString::fromLatin1(m_CodeUsb.GetModelName()));
}

bool PM2_5::ShowValues(int channel, int code)
{
    if (!m_RecordData || channel < 0 || channel >= m_ChannelCount || channel > 1)
        return false;
    const GRecordDataPro* live = m_RecordData[channel].m_pRealTime;
    if (!live || !live->m_pRealData)
        return false;
    // The newest pair the device sent, also once the 14-day series is full and refuses it.
    double x1 = -1;
    double x2 = -1;
    RealData_LastValues(live->m_pRealData, &x1, &x2);

    if (x1 < 0)
        return false;
    if (channel == 0)
        ui->lineEditValue->setText(ShownValueText(x1, 6));
    if (x2 < 0)
        return false;
    if (channel == 0)
        ui->lineEditPM10Value->setText(ShownValueText(x2, 6));
    else
        ui->lineEditPAValue->setText(ShownValueText(x1, 3));

    if (code == kResultTvoc && m_Plot.mTvocFlag == 0) {
        ui->radioButtonPA->setText(QStringLiteral("TVOC"));
        m_Plot.mTvocFlag = 1;
    }
    return true;
}

void PM2_5::SetCollectState(bool collecting)
{
    for (int i = 0; i < m_ChannelCount; ++i)
        m_RecordData[i].m_Live = collecting ? 1 : 0;

    const QString style = QLatin1String(collecting ? kLiveValueStyle : kFadedValueStyle);
    ui->lineEditValue->setStyleSheet(style);
    ui->lineEditPM10Value->setStyleSheet(style);
    ui->lineEditPAValue->setStyleSheet(style);
    if (collecting) {
        for (int i = 0; i < m_ChannelCount; ++i)
            m_RecordData[i].SetSource(0, true);
        ui->labelType->setText(tr("Current Data"));
        ui->actionCollection->setText(tr("Stop Collect"));
        ui->actionCollection->setIcon(QIcon(QStringLiteral(":/icons/Icons/Pause.bmp")));
    } else {
        ui->labelType->setText(tr("History Data"));
        ui->actionCollection->setText(tr("Start Collect"));
        ui->actionCollection->setIcon(QIcon(QStringLiteral(":/icons/Icons/Play.bmp")));
        ui->actionCollection->setChecked(false);
        ui->radioButtonPM25->setChecked(m_CurChannel == 0);
        ui->radioButtonPA->setChecked(m_CurChannel == 1);
    }
    m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, true);
}

void PM2_5::on_actionCollection_triggered()
{
    // A history download disables saving and zooming while it runs; any switch brings them back.
    ui->actionBinary->setEnabled(true);
    ui->actionTime_zoom_in->setEnabled(true);
    ui->actionTime_zoom_out->setEnabled(true);
    SetCollectState(ui->actionCollection->isChecked());
}
