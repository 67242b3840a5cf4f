#pragma once

// What the benchmarks share: order statistics and window hooks that never block.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/Form1.h"

namespace vantor::bench {

// The value at this fraction (0..1) of the sorted values, nearest rank.
inline double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

inline double Median(std::vector<double> values)
{
    return Percentile(std::move(values), 0.5);
}

// Message boxes go to stderr, the file dialog is cancelled, nothing quits.
inline Form1Hooks QuietHooks()
{
    Form1Hooks hooks;
    hooks.ChooseMidiFile = [](QWidget*) { return QString(); };
    hooks.ShowMessage = [](QWidget*, const QString& text) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    };
    hooks.Quit = [] {};
    return hooks;
}

}  // namespace vantor::bench
