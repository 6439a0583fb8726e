#pragma once
// SIGTERM, SIGINT and SIGHUP as Qt signals: the handlers only write the signal number into a
// pipe, and the event loop reads it, so the program acts on them between its own steps.
#include <QObject>

class QSocketNotifier;

class SignalWatch : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(QObject* parent = nullptr);
    ~SignalWatch() override;
    bool Ok() const { return m_Notifier != nullptr; }
    // SIGTERM or SIGINT has arrived (set in the handler itself): a loop that does not return to
    // the event loop (a USB history download) asks this to end in time.
    static bool StopPending();

signals:
    void Stop();   // SIGTERM or SIGINT
    void Reopen(); // SIGHUP

private:
    void Read();
    QSocketNotifier* m_Notifier = nullptr;
};
