#include "report/percentiles.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qav::report {

namespace {
constexpr int kExactBits = 7; // values below 2^7 have a bucket each
constexpr qint64 kExact = qint64(1) << kExactBits;
constexpr int kSubBits = kExactBits - 1; // 64 buckets per power of two above
constexpr qint64 kSubBuckets = qint64(1) << kSubBits;
} // namespace

std::size_t Percentiles::bucketOf(qint64 ms) {
    if (ms < kExact)
        return std::size_t(ms);
    const int power = std::bit_width(quint64(ms)) - 1; // 7 and up
    const qint64 sub = (ms >> (power - kSubBits)) & (kSubBuckets - 1);
    return std::size_t(kExact + (power - kExactBits) * kSubBuckets + sub);
}

qint64 Percentiles::valueOf(std::size_t bucket) {
    if (qint64(bucket) < kExact)
        return qint64(bucket);
    const qint64 above = qint64(bucket) - kExact;
    const int power = int(above / kSubBuckets) + kExactBits;
    const qint64 sub = above % kSubBuckets;
    const qint64 width = qint64(1) << (power - kSubBits);
    const qint64 low = (qint64(1) << power) + sub * width;
    return low + width / 2;
}

void Percentiles::add(qint64 ms) {
    ms = std::max<qint64>(ms, 0);
    const std::size_t bucket = bucketOf(ms);
    if (bucket >= counts_.size())
        counts_.resize(bucket + 1, 0);
    ++counts_[bucket];
    max_ = count_ == 0 ? ms : std::max(max_, ms);
    ++count_;
}

std::optional<qint64> Percentiles::percentile(double p) const {
    if (count_ == 0)
        return std::nullopt;
    const qint64 rank =
        std::clamp<qint64>(qint64(std::ceil(p / 100.0 * double(count_))), 1, count_);
    if (rank == count_)
        return max_;
    qint64 seen = 0;
    for (std::size_t bucket = 0; bucket < counts_.size(); ++bucket) {
        seen += counts_[bucket];
        if (seen >= rank)
            return std::min(valueOf(bucket), max_);
    }
    return max_;
}

std::optional<qint64> Percentiles::max() const {
    if (count_ == 0)
        return std::nullopt;
    return max_;
}

} // namespace qav::report
