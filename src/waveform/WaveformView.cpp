#include "WaveformView.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr double heightFraction = 0.92;
constexpr double minimumBarHeight = 4;
constexpr double maximumCornerRadius = 2;
// Keeps silence from dividing by zero; every bar of it becomes a stub.
constexpr double minimumPeak = 0.0001;
// No screen is this wide; the cap keeps the bar count an int for any input.
constexpr double maximumBarCount = 1e6;

double unitClamped(double value)
{
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

QList<double> placeholderWave(int count)
{
    QList<double> values(count);
    for (int i = 0; i < count; ++i)
        values[i] = ((7 * i) % 9) * 0.01 + 0.08;
    return values;
}

QGradientStops gradientStops(const QVariantList &colors)
{
    QGradientStops stops;
    const auto n = colors.size();
    if (n == 0)
        return {{0.0, Qt::transparent}, {1.0, Qt::transparent}};
    for (qsizetype i = 0; i < n; ++i)
        stops.append({n == 1 ? 0.0 : double(i) / double(n - 1), colors[i].value<QColor>()});
    if (n == 1)
        stops.append({1.0, stops.first().second});
    return stops;
}

// Where the bars of a canvas go: how many, how wide, how far apart.
struct BarGrid
{
    int count = 0;
    double barWidth = 0;
    double step = 0;
    double leftOffset = 0;
};

std::optional<BarGrid> barGrid(QSizeF size, double barWidth, double spacing)
{
    if (!(size.width() > 0) || !(size.height() > 0))
        return std::nullopt;
    BarGrid g;
    g.barWidth = barWidth > 1 ? barWidth : 1;
    const double gap = spacing > 0 ? spacing : 0;
    g.step = g.barWidth + gap;
    g.count = int(std::clamp(std::trunc((size.width() + gap) / g.step), 1.0, maximumBarCount));
    const double contentWidth = g.barWidth * g.count + gap * (g.count - 1);
    g.leftOffset = std::max((size.width() - contentWidth) / 2, 0.0);
    return g;
}

// A bar counts as played once the progress has reached its centre, so the
// played bars are always a prefix; found by bisection, as a canvas may hold
// many bars and this runs on every progress tick.
int playedBarCount(const BarGrid &g, double width, double progress)
{
    const double played = unitClamped(progress);
    const auto isPlayed = [&](int i) { return (g.leftOffset + g.step * i + g.barWidth / 2) / width <= played; };
    int low = 0;
    int high = g.count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (isPlayed(middle))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

} // namespace

WaveformView::WaveformView(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void WaveformView::setSamples(const QList<double> &samples)
{
    if (m_samples == samples)
        return;
    m_samples = samples;
    update();
    emit samplesChanged();
}

void WaveformView::setProgress(double progress)
{
    if (m_progress == progress)
        return;
    // Progress moves twenty times a second, a bar turns played far less
    // often: repaint (and so render a frame) only when one does.
    const bool barsChange = playedBars(m_progress) != playedBars(progress);
    m_progress = progress;
    if (barsChange)
        update();
    emit progressChanged();
}

int WaveformView::playedBars(double progress) const
{
    const std::optional<BarGrid> g = barGrid(size(), m_barWidth, m_spacing);
    return g ? playedBarCount(*g, width(), progress) : 0;
}

void WaveformView::setBarWidth(double barWidth)
{
    if (m_barWidth == barWidth)
        return;
    m_barWidth = barWidth;
    update();
    emit barWidthChanged();
}

void WaveformView::setSpacing(double spacing)
{
    if (m_spacing == spacing)
        return;
    m_spacing = spacing;
    update();
    emit spacingChanged();
}

void WaveformView::setActiveColors(const QVariantList &colors)
{
    if (m_activeColors == colors)
        return;
    m_activeColors = colors;
    update();
    emit activeColorsChanged();
}

void WaveformView::setInactiveColor(const QColor &color)
{
    if (m_inactiveColor == color)
        return;
    m_inactiveColor = color;
    update();
    emit inactiveColorChanged();
}

QList<double> WaveformView::resampledSamples(const QList<double> &samples, int count)
{
    if (count <= 0)
        return {};
    if (samples.isEmpty())
        return placeholderWave(count);
    const qint64 n = samples.size();
    const double scale = std::max(*std::max_element(samples.cbegin(), samples.cend()), minimumPeak);
    QList<double> values(count);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 start = i * n / count;
        const qint64 end = std::min(std::max((i + 1) * n / count, start + 1), n);
        const double peak = *std::max_element(samples.cbegin() + start, samples.cbegin() + end);
        values[i] = unitClamped(peak / scale);
    }
    return values;
}

QList<double> WaveformView::resampledSamples(int count) const
{
    return resampledSamples(m_samples, count);
}

WaveformGeometry WaveformView::layout(const QList<double> &samples, QSizeF size, double progress,
                                      double barWidth, double spacing)
{
    const std::optional<BarGrid> grid = barGrid(size, barWidth, spacing);
    if (!grid)
        return {};
    WaveformGeometry g;
    g.barCount = grid->count;
    g.barWidth = grid->barWidth;
    g.step = grid->step;
    g.leftOffset = grid->leftOffset;
    g.cornerRadius = std::min(g.barWidth / 2, maximumCornerRadius);
    const double h = size.height();
    const int played = playedBarCount(*grid, size.width(), progress);
    const QList<double> values = resampledSamples(samples, g.barCount);
    g.bars.reserve(g.barCount);
    for (int i = 0; i < g.barCount; ++i) {
        const double barHeight = std::max(h * unitClamped(values[i]) * heightFraction, minimumBarHeight);
        const QRectF rect(g.leftOffset + g.step * i, (h - barHeight) / 2, g.barWidth, barHeight);
        g.bars.append({rect, i < played});
    }
    return g;
}

void WaveformView::paint(QPainter *painter)
{
    const WaveformGeometry g = layout(m_samples, size(), m_progress, m_barWidth, m_spacing);
    // The gradient is anchored to the canvas, not to each bar, so a short
    // bar shows only the colours near the bottom.
    QLinearGradient gradient(0, height(), 0, 0);
    gradient.setStops(gradientStops(m_activeColors));
    const QBrush activeBrush(gradient);
    const QBrush inactiveBrush(m_inactiveColor);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    for (const WaveformBar &bar : g.bars) {
        painter->setBrush(bar.active ? activeBrush : inactiveBrush);
        painter->drawRoundedRect(bar.rect, g.cornerRadius, g.cornerRadius);
    }
}

void WaveformView::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}
