#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

// An offscreen window over a flat colour that shows one QML snippet built
// from the Quorvel module, so a test controls every pixel around the item.
class ViewHarness
{
public:
    explicit ViewHarness(QSize size, QColor background = Qt::black)
    {
        m_engine.addImportPath(QStringLiteral("qrc:/"));
        m_window.resize(size);
        m_window.setColor(background);
    }

    // The snippet's root item, shown and exposed; null (with the errors
    // printed) when the snippet does not build.
    QQuickItem *load(const QByteArray &qml)
    {
        QQmlComponent component(&m_engine);
        component.setData(qml, QUrl(QStringLiteral("qrc:/harness.qml")));
        m_root.reset(qobject_cast<QQuickItem *>(component.create()));
        if (!m_root) {
            qWarning() << component.errors();
            return nullptr;
        }
        m_root->setParentItem(m_window.contentItem());
        m_window.show();
        if (!QTest::qWaitForWindowExposed(&m_window))
            return nullptr;
        return m_root.get();
    }

    QQuickWindow &window() { return m_window; }
    QImage grab() { return m_window.grabWindow(); }

    // Saves an image for a person to look at; where depends on the build.
    static bool save(const QImage &image, const QString &name)
    {
        const QString out = qEnvironmentVariable("QUORVEL_TEST_OUTPUT", QDir::tempPath());
        QDir().mkpath(out);
        return image.save(out + QLatin1Char('/') + name);
    }

private:
    QQmlEngine m_engine;
    QQuickWindow m_window;
    std::unique_ptr<QQuickItem> m_root;
};

// Whether two colours agree within a per-channel tolerance, for pixels that
// went through blending and 8-bit rounding.
inline bool closeColors(const QColor &a, const QColor &b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}
