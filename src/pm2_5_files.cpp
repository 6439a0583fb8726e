// The file commands: save the live readings as a record file, save the shown store as a text
// export, open a record file or a text file, and clear the device's stored history.
#include "pm2_5.h"

#include "grecorddatapro.h"
#include "platformtime.h"
#include "textimport.h"
#include "ui_pm2_5.h"
#include "windowlog.h"
#include "windowtexts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>

namespace {
const char kDataFolder[] = "Data/";
const char kStampFormat[] = "yyyy-MM-dd hh_mm_ss";
constexpr int kFileMessageMs = 4000;

// The device's name as part of a proposed file name: bytes that would leave the folder or that
// a file name cannot show become "_".
QString FileNamePart(const QString& name)
{
    QString part = name;
    for (QChar& c : part) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    }
    return part;
}
} // namespace

QString PM2_5::AskSaveFileName(int kind, const QString& folder)
{
    const QString stamp = QLocale::c().toString(Platform_CurrentDateTime(), QLatin1String(kStampFormat));
    // Device 0 may not exist yet (a serial device creates its entry with its first answer): its
    // name is then empty.
    const QString device = FileNamePart(DeviceText(m_CodeUsb.GetDeviceName(0)));
    const bool haveChannel = m_RecordData && m_CurChannel >= 0 && m_CurChannel < m_ChannelCount;
    const int source = haveChannel ? m_RecordData[m_CurChannel].m_Source : 0;

    QString name = folder;
    if (m_CurChannel == 0)
        name += QLatin1String("PM25");
    else if (m_CurChannel == 1)
        name += QLatin1String(m_Plot.mTvocFlag ? "TVOC" : "Form");
    if (source == 0)
        name += device;
    else if (source == 1)
        name += QLatin1String("FileHistory");
    else if (source == 2)
        name += QLatin1String("DeviceHistory") + device;

    QString filter;
    if (kind == 0) {
        name += QLatin1Char('_') + stamp + QLatin1String(".str");
        filter = tr("Str files (*.str)");
    } else {
        if (source == 2)
            name.prepend(QLatin1String("History_"));
        name += QLatin1Char('_') + stamp + QLatin1String(".xls");
        filter = tr("Execl files (*.xls)");
    }

    // The dialog opens in the proposed folder, so it must exist (a fresh working directory has
    // no Data/ yet). If it cannot be made, the dialog starts wherever it can.
    const QString proposedFolder = QFileInfo(name).path();
    if (!QDir(proposedFolder).exists() && !QDir().mkpath(proposedFolder))
        qCDebug(lcWindow) << "cannot create" << proposedFolder;

    const QString path = QFileDialog::getSaveFileName(this, tr("Save the file"), name, filter);
    if (path.isEmpty()) {
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
        return QString();
    }
    return path;
}

void PM2_5::on_actionBinary_triggered()
{
    // Without identified channels there are no live readings to save.
    if (m_SeriesCount == 0 || !m_RecordData || m_CurChannel < 0 || m_CurChannel >= m_ChannelCount) {
        statusBar()->showMessage(tr("Please check the device is connected!"), kFileMessageMs);
        return;
    }
    const QString path = AskSaveFileName(0, QLatin1String(kDataFolder));
    if (path.isEmpty())
        return; // already reported
    // Always the live readings, whatever store is shown.
    GRecordDataPro* live = m_RecordData[m_CurChannel].m_pRealTime;
    live->m_pTrac->start_time = uint32_t(live->m_StartTime.toSecsSinceEpoch());
    if (live->SaveBinFile(path, m_CurChannel) < 0)
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
}

void PM2_5::on_actionExecl_triggered()
{
    if (m_SeriesCount == 0 || !m_RecordData || m_CurChannel < 0 || m_CurChannel >= m_ChannelCount) {
        statusBar()->showMessage(tr("Please check the device is connected!"), kFileMessageMs);
        return;
    }
    const QString path = AskSaveFileName(1, QLatin1String(kDataFolder));
    if (path.isEmpty())
        return;
    const GRecordChannel& channel = m_RecordData[m_CurChannel];
    if (!channel.m_pCurrent->SaveTextFile(m_CodeUsb, path, channel.m_Source, m_HisInterval, m_SeriesCount,
                                          m_CodeUsb.mp_PM10HistoryData, m_CodeUsb.mp_HistoryData))
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
}

void PM2_5::on_actionOpen_triggered()
{
    // The live readings cannot be saved from here until collection starts again.
    ui->actionBinary->setEnabled(false);
    QString name = QFileDialog::getOpenFileName(this, tr("Open the file"), QLatin1String(kDataFolder),
                                                tr("Str or excel files (*.str *.xls)"));
    if (name.endsWith(QLatin1String("xls")))
        name = FileExcelToStr(name);
    if (name.isEmpty()) {
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
        return;
    }

    // A first read tells which channel the file belongs to.
    int fileChannel = 0;
    {
        GRecordDataPro probe;
        if (!probe.OpenBinFile(name, 0)) {
            statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
            return;
        }
        fileChannel = probe.m_pTrac->channel;
    }
    const bool fits = m_RecordData && fileChannel >= 0 && fileChannel < m_ChannelCount &&
                      !(m_CodeUsb.GetChannelCount() == 1 && fileChannel != 0);
    if (!fits) {
        // Back to the particulate channel, with the radio buttons and the plot following it.
        m_CurChannel = 0;
        ui->radioButtonPM25->setChecked(true);
        m_Plot.ShowRealData(m_RecordData, m_CurChannel, m_Language, true);
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
        return;
    }

    GRecordChannel& channel = m_RecordData[fileChannel];
    GRecordDataPro* file = channel.m_pFileData;
    // Read again with the channel's scale; a file that changed in between is refused as well.
    if (!file->OpenBinFile(name, fileChannel)) {
        statusBar()->showMessage(tr("File open failed!"), kFileMessageMs);
        return;
    }
    m_CurChannel = fileChannel;
    channel.SetSource(1, 0);
    file->UpdateStartFields();
    RealData_FitAll(file->m_pRealData);
    const _SRealData* series = file->m_pRealData;
    m_Plot.mTitleDate = file->m_StartTime.addSecs(qint64(series->m_DataSecUnit) * series->m_DataCount);
    SetCollectState(false);
}

QString PM2_5::FileExcelToStr(QString fileName)
{
    return TextImport_ToRecordFile(fileName);
}

void PM2_5::on_actionClear_history_data_triggered()
{
    const QMessageBox::StandardButton answer =
        QMessageBox::information(nullptr, tr("Attention"), tr("Sure you want to delete the historical data"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::No)
        return;
    // The clear request is defined on the serial link only; what a sensor on the USB bus would
    // make of it is unknown, so there the user is told instead of the command doing nothing.
    if (!m_CodeUsb.IsSerialActive()) {
        statusBar()->showMessage(tr("Clearing history data needs the serial connection."), kFileMessageMs);
        return;
    }
    // No reply is awaited here: the device's confirmation comes through the poll.
    m_CodeUsb.m_Serial.ClearHistoryData();
}
