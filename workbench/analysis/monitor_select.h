// An order statistic of values seen in passes over a history (its median
// spacing, a column's noise) found exactly without holding the values: each
// pass counts, in 2^16 bins, the next 16 bits of the values whose leading
// bits match those found so far; four passes at most. The values as 64-bit
// keys ordered as they are: a non-negative double's bits, a positive
// integer.
#ifndef UREA_WORKBENCH_ANALYSIS_MONITOR_SELECT_H
#define UREA_WORKBENCH_ANALYSIS_MONITOR_SELECT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/limits.h"

namespace workbench {

class order_statistic {
public:
    static_assert(max_history_values < (1LL << 32), "a bin's count fits 32 bits");
    order_statistic() = default;
    explicit order_statistic(std::uint64_t rank) : rank_(rank) {}
    void set_rank(std::uint64_t rank) { rank_ = rank; }
    bool done() const { return bits_ == 64; }
    // During a pass, each value once.
    void add(std::uint64_t key) {
        if (bits_ > 0 && key >> (64 - bits_) != prefix_) return;
        if (bins_.empty()) bins_.assign(std::size_t{1} << 16, 0);
        ++bins_[static_cast<std::size_t>((key >> (48 - bits_)) & 0xffff)];
    }
    // After a pass: the next 16 bits of the rank-th smallest (0-based); a
    // rank past the values counted leaves it at the largest.
    void end_pass() {
        std::uint64_t below = 0;
        std::size_t bin = 0;
        for (std::size_t b = 0; b < bins_.size(); ++b) {
            if (bins_[b] == 0) continue;
            bin = b;
            if (below + bins_[b] > rank_) break;
            below += bins_[b];
        }
        if (below <= rank_) rank_ -= below;
        prefix_ = prefix_ << 16 | bin;
        bits_ += 16;
        if (done()) {
            bins_ = {};
        } else {
            bins_.assign(bins_.size(), 0);
        }
    }
    std::uint64_t value() const { return prefix_; }

private:
    std::uint64_t rank_ = 0, prefix_ = 0;
    int bits_ = 0;
    std::vector<std::uint32_t> bins_;
};

}  // namespace workbench

#endif
