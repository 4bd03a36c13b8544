#include "WindowResizer.h"

#include "WindowSize.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <cmath>

WindowResizer::WindowResizer(QObject *parent)
    : QObject(parent)
    , m_size(windowsize::loadSavedWindowSize(QSettings()))
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSizeF available = screen ? QSizeF(screen->availableSize()) : QSizeF(qInf(), qInf());
    m_initialSize = windowsize::usableSize(m_size, available);
}

void WindowResizer::setWindow(QWindow *window)
{
    if (m_window == window)
        return;
    if (m_window)
        m_window->disconnect(this);
    m_window = window;
    if (m_window) {
        // A window not sized yet has nothing to tell; its first real size is
        // compared with the remembered one like any later change.
        if (!m_window->size().isEmpty())
            setSize(m_window->size());
        const auto follow = [this] { observeWindowSize(m_window->size()); };
        connect(m_window, &QWindow::widthChanged, this, follow);
        connect(m_window, &QWindow::heightChanged, this, follow);
    }
    emit windowChanged();
}

void WindowResizer::observeWindowSize(QSizeF actual)
{
    // A difference of exactly one point is rounding, not a resize.
    if (std::abs(m_size.width() - actual.width()) <= 1 && std::abs(m_size.height() - actual.height()) <= 1)
        return;
    setSize(actual);
    QSettings settings;
    windowsize::saveWindowSize(settings, actual);
    emit saved(actual);
}

void WindowResizer::setSize(QSizeF size)
{
    if (m_size == size)
        return;
    m_size = size;
    emit sizeChanged();
}
