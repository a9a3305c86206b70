// Small helpers shared by the benchmarks: order statistics over measured samples.
#pragma once

#include <QVector>

#include <algorithm>

inline double percentile(QVector<double> samples, double p)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const int index = std::min<int>(samples.size() - 1, int(p * (samples.size() - 1) + 0.5));
    return samples[index];
}
