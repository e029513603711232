// Range-minimum chaining for long-range joins: candidate predecessors sit in
// a balanced tree ordered by query position, and the best one under a linear
// gap model comes from a range-minimum query, refined by a short exact scan.
#pragma once

#include <cstdint>
#include <vector>

#include "align/chain.h"

namespace tessiq {

inline constexpr uint32_t AVL_NIL = 0xffffffffu;

struct AvlNode {
    double priority;  // smaller is better
    int32_t y;        // first key: query position
    uint32_t i;       // second key: anchor index
    uint32_t left, right, parent;
    uint32_t submin;  // node with the smallest priority in this subtree
    int8_t balance;   // height(right) - height(left)
};

// An AVL tree of (y, i) keys with per-subtree minimum priority. Nodes live in
// an arena and are recycled through a free list threaded through `right`.
class TESSIQ_API RmqTree {
public:
    RmqTree();
    void insert_elem(int32_t y, uint32_t i, double priority);
    // Removes the element with key (y, i); does nothing if there is none.
    void erase(int32_t y, uint32_t i);
    // The node of smallest priority with lo <= key <= hi, or AVL_NIL.
    uint32_t range_min(int32_t lo_y, uint32_t lo_i, int32_t hi_y, uint32_t hi_i) const;
    // The largest node with key < (y, i), or AVL_NIL; then walk with prev().
    uint32_t last_below(int32_t y, uint32_t i) const;
    uint32_t prev(uint32_t node) const;

    size_t size() const { return size_; }
    uint32_t root() const { return root_; }
    const AvlNode& node(uint32_t k) const { return nodes_[k]; }

private:
    uint32_t alloc(int32_t y, uint32_t i, double priority);
    void update_submin(uint32_t k);
    void replace_child(uint32_t parent, uint32_t old_child, uint32_t new_child);
    uint32_t rotate_left(uint32_t k);
    uint32_t rotate_right(uint32_t k);
    uint32_t rebalance(uint32_t k);  // rotates a node with balance +-2; returns the new subtree root

    std::vector<AvlNode> nodes_;
    uint32_t free_ = AVL_NIL;
    uint32_t root_ = AVL_NIL;
    size_t size_ = 0;
    mutable std::vector<uint32_t> path_lo_, path_hi_;
    mutable std::vector<int8_t> dir_lo_, dir_hi_;
};

TESSIQ_API ChainResult chain_anchors_rmq(const ChainingParams& params, const Minimizer* anchors,
                                         size_t n, ChainingBuffers& buffers);

}  // namespace tessiq
