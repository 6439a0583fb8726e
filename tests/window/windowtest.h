#pragma once
// Shared helpers of the window tests: building the window without a sensor (its warning box is
// closed by a timer started before construction) and closing later modal boxes the same way.
#include "pm2_5.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <memory>

// Closes every modal box that shows up while it lives; each box is first handed to `inspect`.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QWidget*)> inspect = {}) : m_Inspect(std::move(inspect))
    {
        m_Timer.setInterval(10);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) {
                if (++m_Idle > 1000) // 10 s without any box: stop polling
                    m_Timer.stop();
                return;
            }
            ++m_Closed;
            if (m_Inspect)
                m_Inspect(box);
            if (auto* dialog = qobject_cast<QDialog*>(box))
                dialog->reject();
            else
                box->close();
        });
        m_Timer.start();
    }
    int Closed() const { return m_Closed; }

private:
    std::function<void(QWidget*)> m_Inspect;
    QTimer m_Timer;
    int m_Closed = 0;
    int m_Idle = 0;
};

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool parentless = false;
};

inline BoxSeen DescribeBox(QWidget* w)
{
    BoxSeen seen;
    seen.title = w->windowTitle();
    seen.parentless = w->parentWidget() == nullptr;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = int(box->standardButtons());
    }
    return seen;
}

// The window as built on a machine without a sensor (the normal case in tests).
inline std::unique_ptr<PM2_5> MakeWindowWithoutSensor(QList<BoxSeen>* boxes = nullptr)
{
    ModalCloser closer([boxes](QWidget* w) {
        if (boxes)
            boxes->append(DescribeBox(w));
    });
    return std::make_unique<PM2_5>();
}

// Turns a window built without a sensor into one that opened a sensor on the serial bridge and
// waits for its identity answer: no channel array yet, one "device0" item in each menu.
inline void PretendSerialSensor(PM2_5& w)
{
    w.ReleaseRecordData();
    w.m_CodeUsb.m_Serial.m_LinkFlag = 1;
    w.m_SeriesCount = 1;
    w.InitDeviceMenu();
}
