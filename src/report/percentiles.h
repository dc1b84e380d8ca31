#pragma once
// Percentiles of a run's times in constant memory, however long the run: a
// count per bucket, exact below 128 ms and within 1 % above (64 buckets per
// power of two), plus the exact largest value.

#include <QtGlobal>
#include <optional>
#include <vector>

namespace qav::report {

class Percentiles {
public:
    void add(qint64 ms);
    qint64 count() const { return count_; }
    // The value below or at which p percent of the values lie (nearest
    // rank); nothing before the first value.
    std::optional<qint64> percentile(double p) const;
    std::optional<qint64> max() const;

private:
    static std::size_t bucketOf(qint64 ms);
    static qint64 valueOf(std::size_t bucket); // the middle of the bucket

    std::vector<qint64> counts_;
    qint64 count_ = 0;
    qint64 max_ = 0;
};

} // namespace qav::report
