#pragma once

#include <QObject>
#include <QSocketNotifier>

// Ends the event loop cleanly on SIGINT and SIGTERM (a terminal's Ctrl+C, a
// session logging out), so the output is stopped and the device given back
// exactly as when the window is closed.
//
// One instance, created on the GUI thread before the event loop runs.
class QuitOnSignal : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject *parent = nullptr);
    ~QuitOnSignal() override;

private:
    static void handle(int signal);
    void quit();

    QSocketNotifier *m_notifier = nullptr;
};
