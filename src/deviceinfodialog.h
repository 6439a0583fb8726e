#pragma once
// A small modal dialog with the name and the serial number of one connected device.
#include <QDialog>

class PM2_5;

namespace Ui {
class DeviceInfoDialog;
}

class DeviceInfoDialog : public QDialog {
    Q_OBJECT

public:
    explicit DeviceInfoDialog(QWidget* parent = nullptr);
    ~DeviceInfoDialog() override;

    int SetDeviceInfo(int index, PM2_5* window);

    Ui::DeviceInfoDialog* ui;
    PM2_5* m_Window = nullptr;
    int m_Index = 0;

private slots:
    void on_pushButton_clicked();
};
