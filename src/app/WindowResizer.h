#pragma once

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QTimer>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

// Keeps the remembered window size in step with the real window and writes it
// to the settings once the two drift more than one point apart and the size
// has settled (no change for `settleMs`, or the window closes), so a window
// left alone costs no writes and a drag-resize costs one. Holds the window at its minimum size
// itself, since a window manager may ignore the hint, and never remembers a
// size below it.
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
    static constexpr int settleMs = 300;

    explicit WindowResizer(QObject *parent = nullptr);
    // Writes a size that has not settled yet.
    ~WindowResizer() override;

    QWindow *window() const { return m_window; }
    // Follows `window` from now on. The size it has when first seen visible
    // becomes the known size without a save: opening is not resizing.
    void setWindow(QWindow *window);
    QSizeF size() const { return m_size; }
    // The remembered size, bounded so that the window opens usable on the
    // primary screen.
    QSizeF initialSize() const { return m_initialSize; }

    // Called with the window's size whenever it changes; when it moved more
    // than one point from the known size in either direction and is not
    // below the minimum size, it becomes the known size and is saved once it
    // settles.
    void observeWindowSize(QSizeF actual);
    // Saves the known size now if it waits to settle (the window closes).
    void flush();

signals:
    void windowChanged();
    void sizeChanged();
    // Emitted after each write, for whoever wants to count them.
    void saved(QSizeF size);

private:
    void setSize(QSizeF size);
    void followWindow();

    QPointer<QWindow> m_window;
    bool m_wasShown = false;
    QSizeF m_size;
    QSizeF m_initialSize;
    QTimer m_settle;
    bool m_savePending = false;
};
