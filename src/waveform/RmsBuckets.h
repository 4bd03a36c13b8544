#pragma once

#include "WaveformExtraction.h"

#include <QList>

// Root mean square of the first channel per bucket of `bucketSize` frames,
// fed chunk by chunk. Each bucket's squares are summed in double, in frame
// order, starting from zero: the same operations in the same order as a pass
// over the whole track, so the values are identical bit for bit.
class RmsBuckets
{
public:
    RmsBuckets(qint64 bucketSize, qsizetype expectedBuckets);

    // Adds `frames` interleaved frames. Polls `isCancelled` before each bucket
    // and returns false as soon as it reports true.
    bool add(const float *interleaved, qint64 frames, int channels,
             const CancellationCheck &isCancelled);
    // Closes the last, possibly shorter, bucket and hands over the values.
    QList<double> finish();

private:
    void closeBucket();

    qint64 m_bucketSize;
    qint64 m_filled = 0;
    double m_sum = 0;
    QList<double> m_values;
};
