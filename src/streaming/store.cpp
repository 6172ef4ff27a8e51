// The sample store of a StreamBuffer and the two ways a flush lays its window out.
#include "streaming.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace streaming {

Ring& Ring::operator=(Ring&& o) noexcept {
    if (this != &o) {
        release();
        x_ = std::exchange(o.x_, nullptr);
        y_ = std::exchange(o.y_, nullptr);
        capacity_ = std::exchange(o.capacity_, 0);
        head_ = std::exchange(o.head_, 0);
        size_ = std::exchange(o.size_, 0);
    }
    return *this;
}

bool Ring::allocate(Py_ssize_t capacity) noexcept {
    release();
    x_ = static_cast<double*>(PyMem_Malloc(sizeof(double) * static_cast<std::size_t>(capacity)));
    y_ = static_cast<double*>(PyMem_Malloc(sizeof(double) * static_cast<std::size_t>(capacity)));
    if (!x_ || !y_) {
        release();
        return false;
    }
    capacity_ = capacity;
    return true;
}

void Ring::release() noexcept {
    PyMem_Free(x_);
    PyMem_Free(y_);
    x_ = y_ = nullptr;
    capacity_ = head_ = size_ = 0;
}

void Ring::push_block(const double* x, const double* y, Py_ssize_t n) noexcept {
    if (n >= capacity_) {  // only the newest capacity samples stay
        x += n - capacity_;
        y += n - capacity_;
        n = capacity_;
    }
    const Py_ssize_t first = n < capacity_ - head_ ? n : capacity_ - head_;
    std::memcpy(x_ + head_, x, sizeof(double) * static_cast<std::size_t>(first));
    std::memcpy(y_ + head_, y, sizeof(double) * static_cast<std::size_t>(first));
    std::memcpy(x_, x + first, sizeof(double) * static_cast<std::size_t>(n - first));
    std::memcpy(y_, y + first, sizeof(double) * static_cast<std::size_t>(n - first));
    head_ = (head_ + n) % capacity_;
    size_ = size_ + n < capacity_ ? size_ + n : capacity_;
}

void Ring::runs_at(Py_ssize_t offset, Py_ssize_t count, bool with_x, scan::Run& first, scan::Run& second) const noexcept {
    first = second = scan::Run{nullptr, y_, 0};
    if (count <= 0) return;
    const Py_ssize_t start = index(size_, offset);
    const Py_ssize_t head_part = count < capacity_ - start ? count : capacity_ - start;
    first = scan::Run{with_x ? x_ + start : nullptr, y_ + start, head_part};
    second = scan::Run{with_x ? x_ : nullptr, y_, count - head_part};
}

Py_ssize_t Plan::most_points() const noexcept {
    if (!bucket) return count;
    // Every bucket but the first and the last is whole; each gives at most three points.
    return 3 * (count / bucket + 2);
}

Plan plan_of(const StreamBufferObject* b, Py_ssize_t budget) noexcept {
    Plan plan;
    const Py_ssize_t held = b->ring.size();
    const Py_ssize_t n = held < b->window ? held : b->window;
    if (n == 0) return plan;
    plan.end = b->added;
    if (budget <= budget_every || n <= budget) {
        plan.first = b->added - static_cast<unsigned long long>(n);
        plan.count = n;
        return plan;
    }
    // The bucket length follows from the window, not from how much of it is filled, so that a
    // bucket keeps its edges from its first sample to its last.
    const Py_ssize_t buckets = budget / 2;
    const auto length = static_cast<unsigned long long>((b->window + buckets - 1) / buckets);
    const unsigned long long oldest_shown = b->added - static_cast<unsigned long long>(n);
    const unsigned long long oldest_held = b->added - static_cast<unsigned long long>(held);
    unsigned long long first = oldest_shown - oldest_shown % length;
    if (first < oldest_held) first = oldest_held;  // the store no longer holds the bucket's start
    plan.first = first;
    plan.count = static_cast<Py_ssize_t>(b->added - first);
    plan.bucket = static_cast<Py_ssize_t>(length);
    return plan;
}


namespace {

using scan::finite;

constexpr unsigned long long nowhere = ~0ULL;

// Samples by their absolute index: `first` is the oldest the store holds.
struct Held {
    const Ring& ring;
    unsigned long long first;
    explicit Held(const StreamBufferObject* b) noexcept
        : ring(b->ring), first(b->added - static_cast<unsigned long long>(b->ring.size())) {}
    Py_ssize_t offset(unsigned long long i) const noexcept { return static_cast<Py_ssize_t>(i - first); }
    double x(unsigned long long i) const noexcept { return ring.x(ring.at(offset(i))); }
    double y(unsigned long long i) const noexcept { return ring.y(ring.at(offset(i))); }
    // The samples [from, to) as at most two runs.
    void runs(unsigned long long from, unsigned long long to, scan::Run& a, scan::Run& b) const noexcept {
        ring.runs_at(offset(from), static_cast<Py_ssize_t>(to - from), true, a, b);
    }
};

inline void put(double x, double y, double* out_x, double* out_y, Py_ssize_t m) noexcept {
    const bool x_ok = finite(x);
    out_x[m] = x_ok ? x : NAN;
    out_y[m] = x_ok && finite(y) ? y : NAN;
}

// One point per sample of a run, gaps for the samples that cannot be drawn.
void copy_run(const scan::Run& r, double* out_x, double* out_y) noexcept {
    const double* x = r.x;
    const double* y = r.y;
    for (Py_ssize_t i = 0; i < r.n; ++i) {
        const double xv = x[i], yv = y[i];
        const bool x_ok = finite(xv);
        out_x[i] = x_ok ? xv : NAN;
        out_y[i] = x_ok && finite(yv) ? yv : NAN;
    }
}

// What a bucket is drawn with: its least and greatest drawable sample and its first gap, by
// absolute index (the first of equal values).
struct BucketStats {
    bool found = false;
    double lo = 0.0, hi = 0.0;
    unsigned long long lo_at = nowhere, hi_at = nowhere, gap_at = nowhere;

    // Folds in the stats of the samples that follow: on equal values the earlier one stays.
    void take(const BucketStats& later) noexcept {
        if (gap_at == nowhere) gap_at = later.gap_at;
        if (!later.found) return;
        if (!found || later.lo < lo) {
            lo = later.lo;
            lo_at = later.lo_at;
        }
        if (!found || later.hi > hi) {
            hi = later.hi;
            hi_at = later.hi_at;
        }
        found = true;
    }
};

// Where `find` first finds a sample in run `a` or else in the run `b` after it, counted over both.
template <class Find>
inline Py_ssize_t in_runs(const scan::Run& a, const scan::Run& b, Find find) noexcept {
    const Py_ssize_t pa = find(a);
    if (pa >= 0) return pa;
    const Py_ssize_t pb = find(b);
    return pb >= 0 ? a.n + pb : -1;
}

// The stats of the samples [from, to), read from the store.
BucketStats raw_stats(const Held& held, unsigned long long from, unsigned long long to) noexcept {
    BucketStats s;
    if (from >= to) return s;
    scan::Run a, b;
    held.runs(from, to, a, b);
    scan::Extremes e = scan::extremes(a);
    e.take(scan::extremes(b));
    auto absolute = [&](Py_ssize_t p) { return p < 0 ? nowhere : from + static_cast<unsigned long long>(p); };
    if (e.found) {
        s.found = true;
        s.lo = e.lo;
        s.hi = e.hi;
        s.lo_at = absolute(in_runs(a, b, [&](const scan::Run& r) { return scan::first_equal(r, e.lo); }));
        s.hi_at = absolute(in_runs(a, b, [&](const scan::Run& r) { return scan::first_equal(r, e.hi); }));
    }
    if (e.gap) s.gap_at = absolute(in_runs(a, b, [](const scan::Run& r) { return scan::first_gap(r); }));
    return s;
}

// A bucket's points, in sample order; a bucket of one value gives one point.
Py_ssize_t put_bucket(const Held& held, const BucketStats& s, double* out_x, double* out_y, Py_ssize_t m) noexcept {
    unsigned long long p0 = s.lo_at, p1 = s.hi_at, p2 = s.gap_at;  // nowhere sorts last
    auto order = [](unsigned long long& u, unsigned long long& v) {
        if (v < u) std::swap(u, v);
    };
    order(p0, p1);
    order(p1, p2);
    order(p0, p1);
    unsigned long long previous = nowhere;
    for (unsigned long long p : {p0, p1, p2}) {
        if (p == nowhere || p == previous) continue;
        put(held.x(p), held.y(p), out_x, out_y, m++);
        previous = p;
    }
    return m;
}

}  // namespace

// ---- block summaries

// Every `block_length` samples whose absolute indexes share one multiple of it, summarised as a
// bucket is drawn; a bucket of many whole blocks is then drawn from their summaries. A summary is
// made when first asked for, for a block the store holds whole, and stays right for as long as the
// store holds it: stored samples never change, and a block that left the store (overwritten, or
// dropped by clear()) is never held whole again, since indexes only grow.
constexpr Py_ssize_t block_length = 64;
// Buckets this long or longer are drawn from summaries; range_plan makes them multiples of a block.
constexpr Py_ssize_t summarised_bucket = 8 * block_length;

// Runs of this many blocks, aligned as the blocks are, are summarised once more: a view over
// millions of samples then reads a few thousand summaries instead of a few hundred thousand.
constexpr Py_ssize_t group_blocks = 64;

struct Blocks {
    Py_ssize_t capacity;  // of the store summarised
    Py_ssize_t slots;
    unsigned long long* block;  // per slot: the block's number + 1, 0 for none
    BucketStats* stats;
    Py_ssize_t group_slots;
    unsigned long long* group;  // per slot: the group's number + 1, 0 for none
    BucketStats* group_stats;
};

void free_blocks(Blocks* blocks) noexcept {
    if (!blocks) return;
    PyMem_Free(blocks->block);
    PyMem_Free(blocks->stats);
    PyMem_Free(blocks->group);
    PyMem_Free(blocks->group_stats);
    PyMem_Free(blocks);
}

namespace {

// The summaries of b's store, made when missing; null when there is no memory for them (the
// buckets are then read sample by sample).
Blocks* blocks_of(StreamBufferObject* b) noexcept {
    Blocks* blocks = b->blocks;
    if (blocks && blocks->capacity == b->ring.capacity()) return blocks;
    free_blocks(std::exchange(b->blocks, nullptr));
    blocks = static_cast<Blocks*>(PyMem_Malloc(sizeof(Blocks)));
    if (!blocks) return nullptr;
    blocks->capacity = b->ring.capacity();
    blocks->slots = blocks->capacity / block_length + 2;  // more than the store holds whole
    const auto slots = static_cast<std::size_t>(blocks->slots);
    blocks->block = static_cast<unsigned long long*>(PyMem_Calloc(slots, sizeof(unsigned long long)));
    blocks->stats = static_cast<BucketStats*>(PyMem_Malloc(slots * sizeof(BucketStats)));
    blocks->group_slots = blocks->slots / group_blocks + 2;
    const auto group_slots = static_cast<std::size_t>(blocks->group_slots);
    blocks->group = static_cast<unsigned long long*>(PyMem_Calloc(group_slots, sizeof(unsigned long long)));
    blocks->group_stats = static_cast<BucketStats*>(PyMem_Malloc(group_slots * sizeof(BucketStats)));
    if (!blocks->block || !blocks->stats || !blocks->group || !blocks->group_stats) {
        free_blocks(blocks);
        return nullptr;
    }
    b->blocks = blocks;
    return blocks;
}

const BucketStats& block_stats(Blocks& blocks, const Held& held, unsigned long long k) noexcept {
    const auto slot = static_cast<std::size_t>(k % static_cast<unsigned long long>(blocks.slots));
    if (blocks.block[slot] != k + 1) {
        const auto from = k * static_cast<unsigned long long>(block_length);
        blocks.stats[slot] = raw_stats(held, from, from + static_cast<unsigned long long>(block_length));
        blocks.block[slot] = k + 1;
    }
    return blocks.stats[slot];
}

// A group's stats: its blocks' folded in order, which is what folding them one by one gives.
const BucketStats& group_stats(Blocks& blocks, const Held& held, unsigned long long g) noexcept {
    const auto slot = static_cast<std::size_t>(g % static_cast<unsigned long long>(blocks.group_slots));
    if (blocks.group[slot] != g + 1) {
        BucketStats s;
        const auto first = g * static_cast<unsigned long long>(group_blocks);
        for (unsigned long long k = first; k < first + static_cast<unsigned long long>(group_blocks); ++k)
            s.take(block_stats(blocks, held, k));
        blocks.group_stats[slot] = s;
        blocks.group[slot] = g + 1;
    }
    return blocks.group_stats[slot];
}

// The stats of [from, to): whole blocks from their summaries, the parts of blocks at the ends
// sample by sample.
BucketStats summarised_stats(Blocks& blocks, const Held& held, unsigned long long from, unsigned long long to) noexcept {
    const auto length = static_cast<unsigned long long>(block_length);
    const unsigned long long first_whole = (from + length - 1) / length, end_whole = to / length;
    if (first_whole >= end_whole) return raw_stats(held, from, to);
    BucketStats s = raw_stats(held, from, first_whole * length);
    const auto group = static_cast<unsigned long long>(group_blocks);
    for (unsigned long long k = first_whole; k < end_whole;) {
        if (k % group == 0 && end_whole - k >= group) {
            s.take(group_stats(blocks, held, k / group));
            k += group;
        } else {
            s.take(block_stats(blocks, held, k++));
        }
    }
    s.take(raw_stats(held, end_whole * length, to));
    return s;
}

}  // namespace

Py_ssize_t lay_out(const StreamBufferObject* b, const Plan& plan, double* out_x, double* out_y) noexcept {
    if (plan.count == 0) return 0;
    const Held held(b);
    if (!plan.bucket) {
        scan::Run first, second;
        held.runs(plan.first, plan.end, first, second);
        copy_run(first, out_x, out_y);
        copy_run(second, out_x + first.n, out_y + first.n);
        return plan.count;
    }
    // Long buckets lined up with the blocks are drawn from the summaries (the store's own memory,
    // which a const buffer may still fill in).
    Blocks* blocks = nullptr;
    if (plan.bucket >= summarised_bucket && plan.bucket % block_length == 0)
        blocks = blocks_of(const_cast<StreamBufferObject*>(b));
    const auto length = static_cast<unsigned long long>(plan.bucket);
    Py_ssize_t m = 0;
    for (unsigned long long start = plan.first; start < plan.end;) {
        unsigned long long end = (start / length + 1) * length;
        if (end > plan.end) end = plan.end;
        const BucketStats s = blocks ? summarised_stats(*blocks, held, start, end) : raw_stats(held, start, end);
        m = put_bucket(held, s, out_x, out_y, m);
        start = end;
    }
    return m;
}

scan::Extremes plan_extremes(const StreamBufferObject* b, const Plan& plan) noexcept {
    scan::Run first, second;
    if (plan.count) Held(b).runs(plan.first, plan.end, first, second);
    else first = second = scan::Run{nullptr, nullptr, 0};
    scan::Extremes e = scan::drawable_extremes(first.x, first.y, first.n);
    e.take(scan::drawable_extremes(second.x, second.y, second.n));
    return e;
}

// ---- what a paused view reads

namespace {

// The first offset whose sample's x is not below x (or `size`): the store is taken to be in
// increasing x; a NaN x counts as not below, which keeps the answer an offset of the store.
Py_ssize_t first_not_below(const Ring& ring, double x) noexcept {
    Py_ssize_t lo = 0, hi = ring.size();
    while (lo < hi) {
        const Py_ssize_t mid = lo + (hi - lo) / 2;
        if (ring.x(ring.at(mid)) < x) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

Py_ssize_t first_above(const Ring& ring, double x) noexcept {
    Py_ssize_t lo = 0, hi = ring.size();
    while (lo < hi) {
        const Py_ssize_t mid = lo + (hi - lo) / 2;
        if (!(ring.x(ring.at(mid)) > x)) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

}  // namespace

Plan range_plan(const StreamBufferObject* b, double x0, double x1, Py_ssize_t budget) noexcept {
    Plan plan;
    const Ring& ring = b->ring;
    const Py_ssize_t size = ring.size();
    if (size == 0) return plan;
    const Py_ssize_t low = first_not_below(ring, x0);
    const Py_ssize_t start = low > 0 ? low - 1 : 0;
    const Py_ssize_t high = first_above(ring, x1);
    const Py_ssize_t stop = high < size ? high + 1 : size;
    if (start >= stop) return plan;
    const unsigned long long oldest = b->added - static_cast<unsigned long long>(size);
    plan.first = oldest + static_cast<unsigned long long>(start);
    plan.end = oldest + static_cast<unsigned long long>(stop);
    const Py_ssize_t n = stop - start;
    if (budget <= budget_every || n <= budget) {
        plan.count = n;
        return plan;
    }
    const Py_ssize_t buckets = budget / 2;
    Py_ssize_t length = (n + buckets - 1) / buckets;
    if (length >= summarised_bucket) length = (length + block_length - 1) / block_length * block_length;
    const auto l = static_cast<unsigned long long>(length);
    unsigned long long first = plan.first - plan.first % l;
    if (first < oldest) first = oldest;
    unsigned long long end = (plan.end + l - 1) / l * l;
    if (end > b->added) end = b->added;
    plan.first = first;
    plan.end = end;
    plan.count = static_cast<Py_ssize_t>(end - first);
    plan.bucket = length;
    return plan;
}

scan::Extremes range_extremes(StreamBufferObject* b, double x0, double x1) noexcept {
    const Ring& ring = b->ring;
    const Py_ssize_t low = first_not_below(ring, x0), high = first_above(ring, x1);
    scan::Extremes e;
    if (low >= high) return e;
    const Held held(b);
    const unsigned long long from = held.first + static_cast<unsigned long long>(low);
    const unsigned long long to = held.first + static_cast<unsigned long long>(high);
    if (high - low >= 4 * summarised_bucket) {
        if (Blocks* blocks = blocks_of(b)) {
            const BucketStats s = summarised_stats(*blocks, held, from, to);
            e.found = s.found;
            e.lo = s.lo;
            e.hi = s.hi;
            return e;
        }
    }
    scan::Run first, second;
    held.runs(from, to, first, second);
    e = scan::drawable_extremes(first.x, first.y, first.n);
    e.take(scan::drawable_extremes(second.x, second.y, second.n));
    return e;
}

Py_ssize_t nearest_sample(const Ring& ring, double x) noexcept {
    const Py_ssize_t size = ring.size();
    if (size == 0 || !finite(x)) return -1;
    const Py_ssize_t at = first_not_below(ring, x);
    // The nearest finite x on either side, a few samples out at most past non-finite ones.
    constexpr Py_ssize_t look = 64;
    Py_ssize_t right = -1, left = -1;
    for (Py_ssize_t k = at; k < size && k < at + look; ++k)
        if (finite(ring.x(ring.at(k)))) {
            right = k;
            break;
        }
    for (Py_ssize_t k = at - 1; k >= 0 && k >= at - look; --k)
        if (finite(ring.x(ring.at(k)))) {
            left = k;
            break;
        }
    if (left < 0) return right;
    if (right < 0) return left;
    return x - ring.x(ring.at(left)) <= ring.x(ring.at(right)) - x ? left : right;
}

bool held_x_extent(const Ring& ring, double& oldest, double& newest) noexcept {
    const Py_ssize_t n = ring.size();
    Py_ssize_t i = 0, j = n - 1;
    while (i < n && !finite(ring.x(ring.at(i)))) ++i;
    while (j > i && !finite(ring.x(ring.at(j)))) --j;
    if (i >= n) return false;
    oldest = ring.x(ring.at(i));
    newest = ring.x(ring.at(j));
    return true;
}

}  // namespace streaming
