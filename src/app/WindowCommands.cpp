#include "WindowCommands.h"

WindowCommands::WindowCommands(QObject *parent)
    : QObject(parent)
{
}

void WindowCommands::setWindow(QWindow *window)
{
    if (m_window == window)
        return;
    m_window = window;
    emit windowChanged();
}

void WindowCommands::close()
{
    if (m_window)
        m_window->close();
}

void WindowCommands::minimise()
{
    if (m_window)
        m_window->showMinimized();
}

void WindowCommands::toggleZoom()
{
    if (!m_window)
        return;
    if (m_window->visibility() == QWindow::Maximized)
        m_window->showNormal();
    else
        m_window->showMaximized();
}
