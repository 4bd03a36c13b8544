#include "RmsBuckets.h"

#include <algorithm>
#include <cmath>

RmsBuckets::RmsBuckets(qint64 bucketSize, qsizetype expectedBuckets)
    : m_bucketSize(std::max<qint64>(bucketSize, 1))
{
    m_values.reserve(expectedBuckets);
}

bool RmsBuckets::add(const float *interleaved, qint64 frames, int channels,
                     const CancellationCheck &isCancelled)
{
    qint64 frame = 0;
    while (frame < frames) {
        if (m_filled == 0 && isCancelled && isCancelled())
            return false;
        const qint64 count = std::min(m_bucketSize - m_filled, frames - frame);
        const float *first = interleaved + frame * channels;
        double sum = m_sum;
        for (qint64 i = 0; i < count; ++i) {
            const double value = std::fabs(first[i * channels]);
            sum += value * value;
        }
        m_sum = sum;
        m_filled += count;
        frame += count;
        if (m_filled == m_bucketSize)
            closeBucket();
    }
    return true;
}

QList<double> RmsBuckets::finish()
{
    if (m_filled > 0)
        closeBucket();
    return std::move(m_values);
}

void RmsBuckets::closeBucket()
{
    m_values.append(std::sqrt(m_sum / double(std::max<qint64>(m_filled, 1))));
    m_sum = 0;
    m_filled = 0;
}
