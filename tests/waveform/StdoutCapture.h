#pragma once

#include <QByteArray>
#include <QTemporaryFile>
#include <cstdio>
#include <unistd.h>

// Redirects the process's standard output to a file for the object's life, so
// a test can read exactly what the code under test printed.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture()
    {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QByteArray text()
    {
        std::fflush(stdout);
        QFile reader(m_file.fileName());
        reader.open(QIODevice::ReadOnly);
        return reader.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};
