#pragma once

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

// Keeps the remembered window size in step with the real window and writes it
// to the settings whenever the two drift more than one point apart, so a
// window left alone costs no writes.
//
// GUI thread only. Save failures are not reported.
class WindowResizer : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QWindow *window READ window WRITE setWindow NOTIFY windowChanged)
    Q_PROPERTY(QSizeF size READ size NOTIFY sizeChanged)
    Q_PROPERTY(QSizeF initialSize READ initialSize CONSTANT)

public:
    explicit WindowResizer(QObject *parent = nullptr);

    QWindow *window() const { return m_window; }
    // Takes the window's current size as the known size without saving it.
    void setWindow(QWindow *window);
    QSizeF size() const { return m_size; }
    // The remembered size, bounded so that the window opens usable on the
    // primary screen.
    QSizeF initialSize() const { return m_initialSize; }

    // Called with the window's size whenever it changes; saves when it moved
    // more than one point from the known size in either direction.
    void observeWindowSize(QSizeF actual);

signals:
    void windowChanged();
    void sizeChanged();
    // Emitted after each write, for whoever wants to count them.
    void saved(QSizeF size);

private:
    void setSize(QSizeF size);

    QPointer<QWindow> m_window;
    QSizeF m_size;
    QSizeF m_initialSize;
};
