#pragma once

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

struct Stats
{
    size_t count = 0;
    double median = 0;
    double p99 = 0;
    double worst = 0;
};

// Nearest-rank percentiles.
inline Stats summarise(std::vector<double> values)
{
    Stats s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double p) {
        const size_t i = size_t(std::ceil(p * double(values.size())));
        return values[std::min(values.size() - 1, i == 0 ? 0 : i - 1)];
    };
    s.median = rank(0.5);
    s.p99 = rank(0.99);
    s.worst = values.back();
    return s;
}

// One row of the results table (Markdown): what, how many, median, p99, worst,
// the floor and the ratio of the median to it, the target and whether it is met.
inline void printRow(const QString &what, const Stats &s, const QString &unit, double floor,
                     const QString &target, bool met)
{
    const QString ratio =
        floor > 0 ? QString::number(s.median / floor, 'f', 3) : QStringLiteral("–");
    const QString floorText =
        floor > 0 ? QString::number(floor, 'f', 0) + QLatin1Char(' ') + unit : QStringLiteral("–");
    std::printf("| %s | %zu | %.2f %s | %.2f %s | %.2f %s | %s | %s | %s | %s |\n",
                qPrintable(what), s.count, s.median, qPrintable(unit), s.p99, qPrintable(unit),
                s.worst, qPrintable(unit), qPrintable(floorText), qPrintable(ratio),
                qPrintable(target), met ? "met" : "MISSED");
    std::fflush(stdout);
}

inline void printValue(const QString &what, double value, const QString &unit,
                       const QString &target, bool met)
{
    std::printf("| %s | 1 | %.2f %s | – | – | – | – | %s | %s |\n", qPrintable(what), value,
                qPrintable(unit), qPrintable(target), met ? "met" : "MISSED");
    std::fflush(stdout);
}
