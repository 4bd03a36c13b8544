#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

// What a system title bar would do for the frameless window: close it,
// minimise it, and zoom it (maximised, or back to its size when it is).
//
// GUI thread only. Without a window every command does nothing.
class WindowCommands : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QWindow *window READ window WRITE setWindow NOTIFY windowChanged)

public:
    explicit WindowCommands(QObject *parent = nullptr);

    QWindow *window() const { return m_window; }
    void setWindow(QWindow *window);

    Q_INVOKABLE void close();
    Q_INVOKABLE void minimise();
    Q_INVOKABLE void toggleZoom();

signals:
    void windowChanged();

private:
    QPointer<QWindow> m_window;
};
