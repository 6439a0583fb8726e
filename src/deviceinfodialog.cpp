#include "deviceinfodialog.h"

#include "pm2_5.h"
#include "ui_deviceinfodialog.h"
#include "windowtexts.h"

#include <QLabel>

DeviceInfoDialog::DeviceInfoDialog(QWidget* parent) : QDialog(parent), ui(new Ui::DeviceInfoDialog)
{
    ui->setupUi(this);
    // The captions' 100 px fit the Chinese texts; a caption that needs more (the English ones in
    // most fonts) gets its width instead of losing its end.
    for (QLabel* caption : {ui->label_2, ui->label})
        caption->setMaximumWidth(qMax(caption->maximumWidth(), caption->sizeHint().width()));
}

DeviceInfoDialog::~DeviceInfoDialog()
{
    delete ui;
}

int DeviceInfoDialog::SetDeviceInfo(int index, PM2_5* window)
{
    m_Index = index;
    m_Window = window;
    // A serial-linked device gets its entry only with its first identity or serial-number
    // answer, but its menu item exists from the start: an index without entry shows nothing.
    const bool known = window && index >= 0 && index < window->m_CodeUsb.DeviceCount();
    ui->labelSN->setText(known ? DeviceText(window->m_CodeUsb.GetDeviceSN(index)).toUpper() : QString());
    ui->labelDeviceName->setText(known ? DeviceText(window->m_CodeUsb.GetDeviceName(index)) : QString());
    return 0;
}

void DeviceInfoDialog::on_pushButton_clicked()
{
    close();
}
