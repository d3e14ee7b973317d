// The exchange plan of the parallel in-place MSD pass.
//
// After every chunk of a slice has been grouped by the current digit, the slice is a
// sequence of runs (chunk, bucket, count). Bucket i's final region is [sums[i],
// sums[i+1]) of the global prefix sums. A run that lies (partly) inside another bucket's
// region is misplaced; the graph lists every misplaced run twice: in `own_elsewhere` of
// the bucket that owns it and in `foreign_here` of the bucket whose region holds it.
// Settling a node exchanges its foreign runs against its own elements lying elsewhere,
// run against run, in place. Exchanges of one level are computed and applied by a single
// thread; nothing here is shared.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "traits/traits.hpp"
#include "types/panic.hpp"

namespace tamarind {

// A misplaced run: `len` elements from slice position `pos`. In `own_elsewhere` of u,
// `node` is the region holding u's elements; in `foreign_here` of r, `node` is the owner.
struct RegionEdge {
    u64 node;
    u64 pos;
    u64 len;

    friend bool operator==(const RegionEdge&, const RegionEdge&) = default;
};

// One exchange of two equal-length runs, seen from the node u being settled: the run at
// here_pos (inside u's region, owned by foreign_owner) swaps with the run at there_pos
// (u's own elements inside there_region's region).
struct RegionSwap {
    u64 foreign_owner;
    u64 here_pos;
    u64 len;
    u64 there_region;
    u64 there_pos;

    friend bool operator==(const RegionSwap&, const RegionSwap&) = default;
};

// One bucket's final region of the slice: `len` elements from `data`, which is slice
// position `start`.
template <class T>
struct BucketRegion {
    T* data;
    std::size_t len;
    std::size_t bucket;
    std::size_t start;
};

class RegionsGraph {
public:
    struct Node {
        std::vector<RegionEdge> own_elsewhere;
        std::vector<RegionEdge> foreign_here;
    };

    // n nodes with empty lists.
    explicit RegionsGraph(std::size_t n) : nodes_(n) {}

    // Reads the layout of a slice whose consecutive chunks are each grouped by bucket:
    // `histograms` holds one counter per node for every chunk, chunks in slice order.
    // Fills the edges and returns the global histogram.
    std::vector<u64> build_regions_graph(std::span<const u64> histograms);

    // Exchanges for the pairs where u and another bucket each hold the other's elements;
    // they settle both runs and create no edge. Leaves u's lists sorted by node.
    std::vector<RegionSwap> two_cycle_swaps(std::size_t u);

    // Exchanges that bring every one of u's elements home; afterwards u has no edges.
    std::vector<RegionSwap> cycle_swaps(std::size_t u);

    // One exchange between X[i] (u's elements inside another region) and Y[j] (foreign
    // elements inside u's region), X and Y being u's lists taken out of the graph. Removes
    // both entries, puts back what is left of the longer one and records where the
    // foreign elements land.
    RegionSwap swap_regions(std::size_t u, std::vector<RegionEdge>& X,
                            std::vector<RegionEdge>& Y, std::size_t i, std::size_t j);

    std::size_t size() const noexcept { return nodes_.size(); }
    const Node& node(std::size_t u) const { return nodes_[u]; }

private:
    // Takes u's lists out of the graph as X (own_elsewhere) and Y (foreign_here), so that
    // swap_regions may edit them while it adds edges to other nodes, runs
    // step(X, Y, swaps) and puts what is left back.
    template <class Step>
    std::vector<RegionSwap> with_lists_taken(std::size_t u, Step&& step) {
        Node& node = nodes_[u];
        std::vector<RegionSwap> swaps;
        if (node.own_elsewhere.empty() && node.foreign_here.empty()) return swaps;
        std::vector<RegionEdge> X = std::move(node.own_elsewhere);
        std::vector<RegionEdge> Y = std::move(node.foreign_here);
        step(X, Y, swaps);
        node.own_elsewhere = std::move(X);
        node.foreign_here = std::move(Y);
        return swaps;
    }

    void add_edge(u64 owner, u64 region, u64 pos, u64 len) {
        nodes_[region].foreign_here.push_back({owner, pos, len});
        nodes_[owner].own_elsewhere.push_back({region, pos, len});
    }

    std::vector<Node> nodes_;
};

// Exchanges a[0, n) with b[0, n); the runs lie in different regions, so they never overlap,
// which lets the compiler move whole vectors.
template <class T>
inline void swap_runs(T* __restrict a, T* __restrict b, std::size_t n) noexcept {
    for (std::size_t k = 0; k < n; ++k) {
        const T t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

[[noreturn]] inline void index_out_of_bounds(std::size_t len, std::size_t index) {
    panic(std::string(messages::kIndexOutOfBounds) + std::to_string(len) +
          std::string(messages::kIndexOutOfBoundsIndex) + std::to_string(index));
}

// Performs `swaps` computed for the region `here`. `regions` are the regions not yet
// settled and `region_of[b]` the index of bucket b's region among them; a bucket whose
// index is not below regions.size() is already settled, which no swap may name.
template <class T>
void apply_swaps(std::span<const RegionSwap> swaps, const BucketRegion<T>& here,
                 std::span<const BucketRegion<T>> regions, std::span<const std::size_t> region_of) {
    for (const RegionSwap& s : swaps) {
        const std::size_t at = region_of[s.there_region];
        if (at >= regions.size()) [[unlikely]]
            index_out_of_bounds(regions.size(), at);
        const BucketRegion<T>& there = regions[at];
        swap_runs(here.data + (s.here_pos - here.start), there.data + (s.there_pos - there.start),
                  static_cast<std::size_t>(s.len));
    }
}

}  // namespace tamarind
