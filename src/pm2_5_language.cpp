// Chinese/English switching, the About boxes and the device information dialog.
#include "pm2_5.h"

#include "deviceinfodialog.h"
#include "ui_pm2_5.h"
#include "windowtexts.h"

#include <QCoreApplication>
#include <QMessageBox>

void PM2_5::SetLanguage(int language)
{
    m_Language = language;
    m_Translator.load(language == 1 ? QStringLiteral(":/cn.qm") : QStringLiteral(":/en.qm"));
    m_Plot.SetAxisTitles(m_Language, m_CurChannel);
    QCoreApplication::installTranslator(&m_Translator);
    // Every text of the form goes back to its translated default; the collection state and the
    // model name come back with the next collection switch and the next reading.
    ui->retranslateUi(this);
    // The gas is a property of the device, not a state: a TVOC sensor stays labelled TVOC.
    if (m_Plot.mTvocFlag)
        ui->radioButtonPA->setText(QStringLiteral("TVOC"));
}

void PM2_5::on_actionChinese_triggered() { SetLanguage(1); }

void PM2_5::on_actionEnglish_triggered() { SetLanguage(0); }

void PM2_5::on_actionAbout_Software_triggered()
{
    QMessageBox::information(nullptr, tr("Software version"), tr("Vostral Air Quality Monitor 5.10"),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

void PM2_5::on_actionAbout_Vostral_triggered()
{
    QMessageBox::information(nullptr, tr("About Vostral"), tr(kMakerContactText), QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void PM2_5::my_actionSetDevice1_triggered()
{
    const int i = m_SetDeviceActions.indexOf(qobject_cast<QAction*>(sender()));
    if (i < 0)
        return;
    DeviceInfoDialog dialog;
    dialog.SetDeviceInfo(i, this);
    dialog.exec();
}
