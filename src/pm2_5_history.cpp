// "Collect historical data": downloads the device's stored history into the shown channel's
// history store, shows it and reports how many values arrived.
#include "pm2_5.h"

#include "grecorddatapro.h"
#include "platformtime.h"
#include "ui_pm2_5.h"
#include "windowlog.h"

#include <QAction>
#include <QPointer>
#include <QRadioButton>

#include <vector>

namespace {
constexpr int kFinishMessageMs = 3000;

// For the length of a download: the poll is held and every command of the window is disabled.
// On the serial link the codec lets the event loop run while it waits for each answer; a poll
// would then take the download's answers, and a command could start a second download or pull
// the channels away underneath the first. Afterwards each command is as enabled as it was.
class DownloadHold {
public:
    explicit DownloadHold(PM2_5& window) : m_Window(window)
    {
        m_Window.m_Downloading = true;
        const QList<QAction*> actions = m_Window.findChildren<QAction*>();
        for (QAction* a : actions)
            Disable(a);
        for (QRadioButton* b : m_Window.findChildren<QRadioButton*>())
            Disable(b);
    }
    ~DownloadHold()
    {
        for (const QPointer<QObject>& object : m_Held) {
            if (object)
                object->setProperty("enabled", true);
        }
        m_Window.m_Downloading = false;
    }
    DownloadHold(const DownloadHold&) = delete;
    DownloadHold& operator=(const DownloadHold&) = delete;

private:
    template <class T>
    void Disable(T* object)
    {
        if (!object->isEnabled())
            return;
        object->setEnabled(false);
        m_Held.push_back(object);
    }

    PM2_5& m_Window;
    std::vector<QPointer<QObject>> m_Held;
};
} // namespace

void PM2_5::on_actionCollect_historical_data_triggered()
{
    if (m_Downloading)
        return; // one download at a time
    // Saving and zooming wait until the collection switch is used again.
    ui->actionBinary->setEnabled(false);
    ui->actionTime_zoom_in->setEnabled(false);
    ui->actionTime_zoom_out->setEnabled(false);
    statusBar()->showMessage(tr("Reading history data..."));
    // On USB nothing repaints until the download ends: show the message now.
    statusBar()->repaint();
    m_Plot.mTitleDate = Platform_CurrentDateTime();

    uint16_t count = 0;
    m_CodeUsb.m_HistoryCancelled = false;
    if (m_RecordData && m_CurChannel >= 0 && m_CurChannel < m_ChannelCount) {
        DownloadHold hold(*this);
        // An interval of 0 (the device has not told it) is refused by the store: count 0.
        count = m_RecordData[m_CurChannel].LoadHistory(m_CodeUsb, m_CurChannel, m_Plot.mTitleDate, m_HisInterval,
                                                       m_Plot.mTvocFlag, m_SeriesCount);
    }
    qCDebug(lcWindow) << "history values:" << count;

    SetCollectState(false);
    statusBar()->showMessage(tr("Finish reading history data.") + QString::number(count), kFinishMessageMs);

    // Exit or closing the window came during the download and cancelled it.
    if (m_ExitAfterDownload) {
        m_ExitAfterDownload = m_CloseAfterDownload = false;
        on_actionExit_triggered();
    } else if (m_CloseAfterDownload) {
        m_CloseAfterDownload = false;
        close();
    }
}
