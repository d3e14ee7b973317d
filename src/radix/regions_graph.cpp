#include "radix/regions_graph.hpp"

#include <algorithm>

namespace tamarind {

namespace {

// Index of the edge starting at `pos`; positions identify runs, so there is at most one.
std::size_t find_run(const std::vector<RegionEdge>& list, u64 pos) {
    for (std::size_t k = 0; k < list.size(); ++k)
        if (list[k].pos == pos) return k;
    return list.size();
}

}  // namespace

std::vector<u64> RegionsGraph::build_regions_graph(std::span<const u64> histograms) {
    const std::size_t range = nodes_.size();
    std::vector<u64> global(range, 0);
    if (range == 0) return global;
    const std::size_t chunks = histograms.size() / range;
    for (std::size_t c = 0; c < chunks; ++c) {
        const u64* h = histograms.data() + c * range;
        for (std::size_t b = 0; b < range; ++b) global[b] += h[b];
    }

    // Walk the runs in slice order, keeping r, the region that holds pos, and its end.
    u64 pos = 0;
    u64 r = 0;
    u64 boundary = global[0];
    for (std::size_t c = 0; c < chunks; ++c) {
        const u64* h = histograms.data() + c * range;
        for (u64 b = 0; b < range; ++b) {
            const u64 count = h[b];
            // An empty run changes nothing: the region walk below catches up at the next one.
            if (count == 0) continue;
            const u64 s = pos;
            pos = s + count;
            if (b != r) {
                const u64 end = std::min(pos, boundary);
                if (end > s) add_edge(b, r, s, end - s);
            }
            while (pos >= boundary && r + 1 < range) {
                const u64 start = boundary;
                ++r;
                boundary = start + global[r];
                const u64 end = std::min(pos, boundary);
                if (b != r && end > start) add_edge(b, r, start, end - start);
            }
        }
    }
    return global;
}

RegionSwap RegionsGraph::swap_regions(std::size_t u, std::vector<RegionEdge>& X,
                                      std::vector<RegionEdge>& Y, std::size_t i, std::size_t j) {
    if (i >= X.size()) [[unlikely]]
        index_out_of_bounds(X.size(), i);
    if (j >= Y.size()) [[unlikely]]
        index_out_of_bounds(Y.size(), j);
    const auto [a, s1, l1] = X[i];  // u's elements at s1, inside region a
    const auto [c, s2, l2] = Y[j];  // c's elements at s2, inside u's region

    std::vector<RegionEdge>& foreign_in_a = nodes_[a].foreign_here;
    const std::size_t k1 = find_run(foreign_in_a, s1);
    if (k1 == foreign_in_a.size()) [[unlikely]]
        panic(messages::kRegionsSwapBadRunP1);
    std::vector<RegionEdge>& c_elsewhere = nodes_[c].own_elsewhere;
    const std::size_t k2 = find_run(c_elsewhere, s2);
    if (k2 == c_elsewhere.size()) [[unlikely]]
        panic(messages::kRegionsSwapBadRunP2);

    // The shorter run is exchanged whole; what is left of the longer one stays listed.
    const u64 len = std::min(l1, l2);
    if (l1 == l2) {
        foreign_in_a.erase(foreign_in_a.begin() + k1);
        c_elsewhere.erase(c_elsewhere.begin() + k2);
        X.erase(X.begin() + i);
        Y.erase(Y.begin() + j);
    } else if (l1 > l2) {
        foreign_in_a[k1] = {u, s1 + l2, l1 - l2};
        c_elsewhere.erase(c_elsewhere.begin() + k2);
        X[i] = {a, s1 + l2, l1 - l2};
        Y.erase(Y.begin() + j);
    } else {
        foreign_in_a.erase(foreign_in_a.begin() + k1);
        c_elsewhere[k2] = {u, s2 + l1, l2 - l1};
        X.erase(X.begin() + i);
        Y[j] = {c, s2 + l1, l2 - l1};
    }
    // c's elements now sit at s1 inside region a: home when a = c, else a new misplaced run.
    if (a != c) add_edge(c, a, s1, len);
    return {c, s2, len, a, s1};
}

std::vector<RegionSwap> RegionsGraph::cycle_swaps(std::size_t u) {
    return with_lists_taken(u, [&](std::vector<RegionEdge>& X, std::vector<RegionEdge>& Y,
                                   std::vector<RegionSwap>& swaps) {
        // Both totals are equal, so the lists run out together.
        while (!X.empty() || !Y.empty()) swaps.push_back(swap_regions(u, X, Y, 0, 0));
    });
}

std::vector<RegionSwap> RegionsGraph::two_cycle_swaps(std::size_t u) {
    return with_lists_taken(u, [&](std::vector<RegionEdge>& X, std::vector<RegionEdge>& Y,
                                   std::vector<RegionSwap>& swaps) {
        // Stable, so the runs of one node keep their slice order.
        const auto by_node = [](const RegionEdge& l, const RegionEdge& r) { return l.node < r.node; };
        std::stable_sort(X.begin(), X.end(), by_node);
        std::stable_sort(Y.begin(), Y.end(), by_node);
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < X.size() && j < Y.size()) {
            if (X[i].node == Y[j].node) {
                // Both entries are replaced or removed: look at the same indices again.
                swaps.push_back(swap_regions(u, X, Y, i, j));
            } else if (X[i].node < Y[j].node) {
                ++i;
            } else {
                ++j;
            }
        }
    });
}

}  // namespace tamarind
