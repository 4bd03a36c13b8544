#include "WindowResizer.h"

#include "WindowSize.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <cmath>
#include <utility>

WindowResizer::WindowResizer(QObject *parent)
    : QObject(parent)
    , m_size(windowsize::loadSavedWindowSize(QSettings()))
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSizeF available = screen ? QSizeF(screen->availableSize()) : QSizeF(qInf(), qInf());
    m_initialSize = windowsize::usableSize(m_size, available);
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &WindowResizer::flush);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &WindowResizer::flush);
}

WindowResizer::~WindowResizer()
{
    flush();
}

void WindowResizer::setWindow(QWindow *window)
{
    if (m_window == window)
        return;
    if (m_window)
        m_window->disconnect(this);
    m_window = window;
    m_wasShown = false;
    if (m_window) {
        m_window->setMinimumSize(windowsize::minimumSize.toSize());
        connect(m_window, &QWindow::visibleChanged, this, &WindowResizer::followWindow);
        connect(m_window, &QWindow::widthChanged, this, &WindowResizer::followWindow);
        connect(m_window, &QWindow::heightChanged, this, &WindowResizer::followWindow);
        followWindow();
    }
    emit windowChanged();
}

// Before the window is first shown its size is still being set up (the width
// may be set before the height), so nothing is compared or saved then.
void WindowResizer::followWindow()
{
    if (m_window && !m_window->isVisible())
        flush(); // closed: the last size is written now
    if (!m_window || !m_window->isVisible())
        return;
    const QSize actual = m_window->size();
    const QSize allowed = actual.expandedTo(windowsize::minimumSize.toSize());
    if (allowed != actual) {
        m_window->resize(allowed); // comes back here once the window has it
        return;
    }
    if (!std::exchange(m_wasShown, true))
        setSize(actual);
    else
        observeWindowSize(actual);
}

void WindowResizer::observeWindowSize(QSizeF actual)
{
    if (actual.width() < windowsize::minimumSize.width() || actual.height() < windowsize::minimumSize.height())
        return;
    // A difference of exactly one point is rounding, not a resize.
    if (std::abs(m_size.width() - actual.width()) <= 1 && std::abs(m_size.height() - actual.height()) <= 1)
        return;
    setSize(actual);
    // A drag-resize reports every step; only where it ends is worth a write.
    m_savePending = true;
    m_settle.start();
}

void WindowResizer::flush()
{
    m_settle.stop();
    if (!std::exchange(m_savePending, false))
        return;
    QSettings settings;
    windowsize::saveWindowSize(settings, m_size);
    emit saved(m_size);
}

void WindowResizer::setSize(QSizeF size)
{
    if (m_size == size)
        return;
    m_size = size;
    emit sizeChanged();
}
