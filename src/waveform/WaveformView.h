#pragma once

#include <QColor>
#include <QList>
#include <QQuickPaintedItem>
#include <QRectF>
#include <QSizeF>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// One bar of a laid-out waveform, in the item's coordinates.
struct WaveformBar
{
    QRectF rect;
    bool active = false;
};

// Where every bar of a waveform goes for one size and one set of fields.
struct WaveformGeometry
{
    int barCount = 0;
    double barWidth = 0;
    double step = 0;
    double leftOffset = 0;
    double cornerRadius = 0;
    QList<WaveformBar> bars;
};

// Draws waveform samples as centred rounded bars: the played ones in a
// vertical gradient spanning the whole height, the rest in a flat colour.
// With no samples it draws a low placeholder wave. A change of progress
// repaints only when a bar turns played or unplayed.
// Painted with QPainter rather than built from scene-graph geometry: the
// software scene-graph renderer (offscreen, and machines without a usable GPU)
// draws no custom geometry nodes, and QPainter gives antialiased sub-pixel bars.
class WaveformView : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<double> samples READ samples WRITE setSamples NOTIFY samplesChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(double barWidth READ barWidth WRITE setBarWidth NOTIFY barWidthChanged)
    Q_PROPERTY(double spacing READ spacing WRITE setSpacing NOTIFY spacingChanged)
    Q_PROPERTY(QVariantList activeColors READ activeColors WRITE setActiveColors NOTIFY activeColorsChanged)
    Q_PROPERTY(QColor inactiveColor READ inactiveColor WRITE setInactiveColor NOTIFY inactiveColorChanged)

public:
    explicit WaveformView(QQuickItem *parent = nullptr);

    QList<double> samples() const { return m_samples; }
    void setSamples(const QList<double> &samples);
    double progress() const { return m_progress; }
    void setProgress(double progress);
    double barWidth() const { return m_barWidth; }
    void setBarWidth(double barWidth);
    double spacing() const { return m_spacing; }
    void setSpacing(double spacing);
    QVariantList activeColors() const { return m_activeColors; }
    void setActiveColors(const QVariantList &colors);
    QColor inactiveColor() const { return m_inactiveColor; }
    void setInactiveColor(const QColor &color);

    // `count` values in 0...1: each bar shows the peak of its stretch of
    // samples relative to the loudest sample; the placeholder wave when there
    // are no samples.
    static QList<double> resampledSamples(const QList<double> &samples, int count);
    Q_INVOKABLE QList<double> resampledSamples(int count) const;

    static WaveformGeometry layout(const QList<double> &samples, QSizeF size, double progress,
                                   double barWidth, double spacing);

    void paint(QPainter *painter) override;

signals:
    void samplesChanged();
    void progressChanged();
    void barWidthChanged();
    void spacingChanged();
    void activeColorsChanged();
    void inactiveColorChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    int playedBars(double progress) const;

    QList<double> m_samples;
    double m_progress = 0;
    double m_barWidth = 1;
    double m_spacing = 0;
    QVariantList m_activeColors;
    QColor m_inactiveColor;
};
