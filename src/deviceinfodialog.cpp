#include "deviceinfodialog.h"

// Placeholder: the dialog lands with the dialog work.
namespace Ui {
class DeviceInfoDialog {};
}
DeviceInfoDialog::DeviceInfoDialog(QWidget* parent) : QDialog(parent), ui(nullptr) {}
DeviceInfoDialog::~DeviceInfoDialog() {}
int DeviceInfoDialog::SetDeviceInfo(int index, PM2_5* window) { m_Index = index; m_Window = window; return 0; }
void DeviceInfoDialog::on_pushButton_clicked() { close(); }
