#include "align/chain_rmq.h"

#include <algorithm>

namespace tessiq {

namespace {
// -1, 0, 1 as (y, i) orders against the node's key.
inline int compare_key(int32_t y, uint32_t i, const AvlNode& n) {
    if (y != n.y) return y < n.y ? -1 : 1;
    if (i != n.i) return i < n.i ? -1 : 1;
    return 0;
}
}  // namespace

RmqTree::RmqTree() {
    nodes_.reserve(256);
    path_lo_.reserve(64), path_hi_.reserve(64), dir_lo_.reserve(64), dir_hi_.reserve(64);
}

uint32_t RmqTree::alloc(int32_t y, uint32_t i, double priority) {
    uint32_t k;
    if (free_ != AVL_NIL) {
        k = free_;
        free_ = nodes_[k].right;
    } else {
        k = static_cast<uint32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    nodes_[k] = AvlNode{priority, y, i, AVL_NIL, AVL_NIL, AVL_NIL, k, 0};
    return k;
}

void RmqTree::update_submin(uint32_t k) {
    AvlNode& n = nodes_[k];
    uint32_t best = k;
    if (n.left != AVL_NIL) {
        const uint32_t s = nodes_[n.left].submin;
        if (!(n.priority < nodes_[s].priority)) best = s;
    }
    if (n.right != AVL_NIL) {
        const uint32_t s = nodes_[n.right].submin;
        if (nodes_[s].priority <= nodes_[best].priority) best = s;
    }
    n.submin = best;
}

void RmqTree::replace_child(uint32_t parent, uint32_t old_child, uint32_t new_child) {
    if (new_child != AVL_NIL) nodes_[new_child].parent = parent;
    if (parent == AVL_NIL)
        root_ = new_child;
    else if (nodes_[parent].left == old_child)
        nodes_[parent].left = new_child;
    else
        nodes_[parent].right = new_child;
}

// The node that becomes the subtree root covers the same elements and takes
// over the old root's submin; the old root is recomputed from its children.
uint32_t RmqTree::rotate_left(uint32_t k) {
    const uint32_t r = nodes_[k].right;
    const uint32_t parent = nodes_[k].parent;
    nodes_[k].right = nodes_[r].left;
    if (nodes_[r].left != AVL_NIL) nodes_[nodes_[r].left].parent = k;
    nodes_[r].left = k;
    nodes_[k].parent = r;
    replace_child(parent, k, r);
    nodes_[r].submin = nodes_[k].submin;
    update_submin(k);
    return r;
}

uint32_t RmqTree::rotate_right(uint32_t k) {
    const uint32_t l = nodes_[k].left;
    const uint32_t parent = nodes_[k].parent;
    nodes_[k].left = nodes_[l].right;
    if (nodes_[l].right != AVL_NIL) nodes_[nodes_[l].right].parent = k;
    nodes_[l].right = k;
    nodes_[k].parent = l;
    replace_child(parent, k, l);
    nodes_[l].submin = nodes_[k].submin;
    update_submin(k);
    return l;
}

uint32_t RmqTree::rebalance(uint32_t k) {
    if (nodes_[k].balance > 0) {
        const uint32_t r = nodes_[k].right;
        if (nodes_[r].balance >= 0) {  // single rotation
            const int8_t rb = nodes_[r].balance;
            const uint32_t top = rotate_left(k);
            nodes_[k].balance = static_cast<int8_t>(rb == 0 ? 1 : 0);
            nodes_[top].balance = static_cast<int8_t>(rb == 0 ? -1 : 0);
            return top;
        }
        const uint32_t rl = nodes_[r].left;  // double rotation
        const int8_t b = nodes_[rl].balance;
        rotate_right(r);
        const uint32_t top = rotate_left(k);
        nodes_[k].balance = static_cast<int8_t>(b > 0 ? -1 : 0);
        nodes_[r].balance = static_cast<int8_t>(b < 0 ? 1 : 0);
        nodes_[top].balance = 0;
        return top;
    }
    const uint32_t l = nodes_[k].left;
    if (nodes_[l].balance <= 0) {
        const int8_t lb = nodes_[l].balance;
        const uint32_t top = rotate_right(k);
        nodes_[k].balance = static_cast<int8_t>(lb == 0 ? -1 : 0);
        nodes_[top].balance = static_cast<int8_t>(lb == 0 ? 1 : 0);
        return top;
    }
    const uint32_t lr = nodes_[l].right;
    const int8_t b = nodes_[lr].balance;
    rotate_left(l);
    const uint32_t top = rotate_right(k);
    nodes_[k].balance = static_cast<int8_t>(b < 0 ? 1 : 0);
    nodes_[l].balance = static_cast<int8_t>(b > 0 ? -1 : 0);
    nodes_[top].balance = 0;
    return top;
}

void RmqTree::insert_elem(int32_t y, uint32_t i, double priority) {
    const uint32_t k = alloc(y, i, priority);
    ++size_;
    if (root_ == AVL_NIL) {
        root_ = k;
        return;
    }
    uint32_t cur = root_, parent = AVL_NIL;
    bool left = false;
    while (cur != AVL_NIL) {
        parent = cur;
        left = compare_key(y, i, nodes_[cur]) < 0;  // equal keys go right
        cur = left ? nodes_[cur].left : nodes_[cur].right;
    }
    nodes_[k].parent = parent;
    (left ? nodes_[parent].left : nodes_[parent].right) = k;
    for (uint32_t a = parent; a != AVL_NIL; a = nodes_[a].parent) update_submin(a);
    // Retrace: the subtree under `child` grew by one level.
    uint32_t child = k;
    for (uint32_t a = parent; a != AVL_NIL; child = a, a = nodes_[a].parent) {
        nodes_[a].balance = static_cast<int8_t>(nodes_[a].balance + (nodes_[a].left == child ? -1 : 1));
        if (nodes_[a].balance == 0) break;
        if (nodes_[a].balance == 2 || nodes_[a].balance == -2) {
            rebalance(a);
            break;
        }
    }
}

void RmqTree::erase(int32_t y, uint32_t i) {
    uint32_t k = root_;
    while (k != AVL_NIL) {
        const int c = compare_key(y, i, nodes_[k]);
        if (c == 0) break;
        k = c < 0 ? nodes_[k].left : nodes_[k].right;
    }
    if (k == AVL_NIL) return;
    if (nodes_[k].left != AVL_NIL && nodes_[k].right != AVL_NIL) {
        uint32_t s = nodes_[k].right;
        while (nodes_[s].left != AVL_NIL) s = nodes_[s].left;
        nodes_[k].y = nodes_[s].y;
        nodes_[k].i = nodes_[s].i;
        nodes_[k].priority = nodes_[s].priority;
        k = s;
    }
    const uint32_t child = nodes_[k].left != AVL_NIL ? nodes_[k].left : nodes_[k].right;
    uint32_t parent = nodes_[k].parent;
    bool from_left = parent != AVL_NIL && nodes_[parent].left == k;
    replace_child(parent, k, child);
    nodes_[k].right = free_;
    free_ = k;
    --size_;
    // Walk to the root: balance factors while the height keeps shrinking,
    // submins all the way.
    bool shrinking = true;
    while (parent != AVL_NIL) {
        uint32_t a = parent;
        if (shrinking) {
            nodes_[a].balance = static_cast<int8_t>(nodes_[a].balance + (from_left ? 1 : -1));
            if (nodes_[a].balance == 1 || nodes_[a].balance == -1) {
                shrinking = false;  // height unchanged
            } else if (nodes_[a].balance == 2 || nodes_[a].balance == -2) {
                a = rebalance(a);
                if (nodes_[a].balance != 0) shrinking = false;
            }
        }
        update_submin(a);
        parent = nodes_[a].parent;
        from_left = parent != AVL_NIL && nodes_[parent].left == a;
    }
}

uint32_t RmqTree::range_min(int32_t lo_y, uint32_t lo_i, int32_t hi_y, uint32_t hi_i) const {
    // Search paths with their directions: -1 left, 0 stop, 1 right.
    auto trace = [&](int32_t y, uint32_t i, std::vector<uint32_t>& path, std::vector<int8_t>& dir) {
        path.clear(), dir.clear();
        for (uint32_t k = root_; k != AVL_NIL;) {
            const int c = compare_key(y, i, nodes_[k]);
            path.push_back(k);
            dir.push_back(static_cast<int8_t>(c));
            if (c == 0) break;
            k = c < 0 ? nodes_[k].left : nodes_[k].right;
        }
    };
    trace(lo_y, lo_i, path_lo_, dir_lo_);
    trace(hi_y, hi_i, path_hi_, dir_hi_);
    size_t d = 0;
    const size_t common = std::min(path_lo_.size(), path_hi_.size());
    for (; d < common; ++d) {
        if (dir_lo_[d] <= 0 && dir_hi_[d] >= 0) break;  // the split node
        if (dir_lo_[d] != dir_hi_[d]) return AVL_NIL;
    }
    if (d == common) return AVL_NIL;
    uint32_t best = path_lo_[d];
    auto offer = [&](uint32_t k) {
        if (k != AVL_NIL && nodes_[k].priority < nodes_[best].priority) best = k;
    };
    for (size_t e = d + 1; e < path_lo_.size(); ++e) {
        if (dir_lo_[e] > 0) continue;
        const uint32_t k = path_lo_[e];
        offer(k);
        if (nodes_[k].right != AVL_NIL) offer(nodes_[nodes_[k].right].submin);
    }
    for (size_t e = d + 1; e < path_hi_.size(); ++e) {
        if (dir_hi_[e] < 0) continue;
        const uint32_t k = path_hi_[e];
        offer(k);
        if (nodes_[k].left != AVL_NIL) offer(nodes_[nodes_[k].left].submin);
    }
    return best;
}

uint32_t RmqTree::last_below(int32_t y, uint32_t i) const {
    uint32_t best = AVL_NIL;
    for (uint32_t k = root_; k != AVL_NIL;) {
        if (compare_key(y, i, nodes_[k]) > 0) {
            best = k;
            k = nodes_[k].right;
        } else {
            k = nodes_[k].left;
        }
    }
    return best;
}

uint32_t RmqTree::prev(uint32_t k) const {
    if (nodes_[k].left != AVL_NIL) {
        k = nodes_[k].left;
        while (nodes_[k].right != AVL_NIL) k = nodes_[k].right;
        return k;
    }
    uint32_t p = nodes_[k].parent;
    while (p != AVL_NIL && nodes_[p].left == k) k = p, p = nodes_[p].parent;
    return p;
}

namespace {
struct SimpleScore {
    int32_t sc;
    int32_t width;
    bool exact;
};

SimpleScore simple_score(const Minimizer& ai, const Minimizer& aj, const ChainingParams& params) {
    const int32_t dq = sub32(anchor_qpos(ai), anchor_qpos(aj));
    const int32_t dr = sub32(anchor_tpos(ai), anchor_tpos(aj));
    const int32_t dd = abs32(sub32(dr, dq));
    const int32_t span_j = anchor_span(aj);
    const int32_t dg = std::min(dr, dq);
    int32_t sc = std::min(span_j, dg);
    const bool exact = dd == 0 && dg <= span_j;
    if (dd > 0 || dq > span_j) {
        const float lg = gap_log2(dd);
        const float pen = static_cast<float>(dg) * params.chn_pen_skip +
                          static_cast<float>(dd) * params.chn_pen_gap + 0.5f * lg;
        sc -= saturating_f2i(pen);
    }
    return {sc, dd, exact};
}
}  // namespace

ChainResult chain_anchors_rmq(const ChainingParams& params, const Minimizer* a, size_t n,
                              ChainingBuffers& b) {
    if (n == 0) return {};
    const int32_t bw = params.bandwidth;
    const int32_t max_dist = std::max(params.max_gap, bw);
    const int32_t inner = std::clamp(params.rmq_inner_dist, 0, std::max(max_dist, 0));
    const int64_t cap = params.rmq_size_cap;
    RmqTree tree, inner_tree;
    const bool has_inner = inner > 0;
    chain_detail::prepare(b, n);
    int32_t* f = b.f.data();
    int32_t* p = b.p.data();
    int32_t* t = b.t.data();
    const double half_gap = 0.5 * static_cast<double>(params.chn_pen_gap);
    size_t st = 0, st_inner = 0, i0 = 0;
    const auto beyond = [&](size_t j, size_t i, int32_t dist) {
        return anchor_tkey(a[j]) != anchor_tkey(a[i]) ||
               a[i].x > a[j].x + static_cast<uint64_t>(static_cast<int64_t>(dist));
    };
    for (size_t i = 0; i < n; ++i) {
        int32_t max_f = anchor_span(a[i]), max_j = -1;
        // Anchors of the previous x value become candidates; anchors with
        // the same x never precede each other.
        if (i0 < i && a[i0].x != a[i].x) {
            for (size_t j = i0; j < i; ++j) {
                const int32_t pos_sum = static_cast<int32_t>(
                    static_cast<uint32_t>(anchor_tpos(a[j])) + static_cast<uint32_t>(anchor_qpos(a[j])));
                const double priority = -(static_cast<double>(f[j]) + pos_sum * half_gap);
                tree.insert_elem(anchor_qpos(a[j]), static_cast<uint32_t>(j), priority);
                if (has_inner)
                    inner_tree.insert_elem(anchor_qpos(a[j]), static_cast<uint32_t>(j), priority);
            }
            i0 = i;
        }
        while (st < i && (beyond(st, i, max_dist) || static_cast<int64_t>(tree.size()) > cap)) {
            tree.erase(anchor_qpos(a[st]), static_cast<uint32_t>(st));
            ++st;
        }
        if (has_inner) {
            while (st_inner < i &&
                   (beyond(st_inner, i, inner) || static_cast<int64_t>(inner_tree.size()) > cap)) {
                inner_tree.erase(anchor_qpos(a[st_inner]), static_cast<uint32_t>(st_inner));
                ++st_inner;
            }
        }
        const int32_t qi = anchor_qpos(a[i]);
        const int32_t lo_y = sub32(qi, max_dist);
        const uint32_t hit = tree.range_min(lo_y, 0xffffffffu, qi, 0);
        if (hit != AVL_NIL) {
            const size_t j = tree.node(hit).i;
            const SimpleScore s = simple_score(a[i], a[j], params);
            if (s.width <= bw && s.sc + f[j] > max_f) max_f = s.sc + f[j], max_j = static_cast<int32_t>(j);
            if (!s.exact && has_inner && qi > 0) {
                int32_t n_skip = 0;
                const int64_t floor_y = int64_t{qi} - inner;
                for (uint32_t k = inner_tree.last_below(qi, 0); k != AVL_NIL; k = inner_tree.prev(k)) {
                    if (inner_tree.node(k).y < floor_y) break;
                    const size_t jj = inner_tree.node(k).i;
                    const SimpleScore r = simple_score(a[i], a[jj], params);
                    if (r.width > bw) continue;
                    if (r.sc + f[jj] > max_f) {
                        max_f = r.sc + f[jj], max_j = static_cast<int32_t>(jj);
                        if (n_skip > 0) --n_skip;
                    } else if (t[jj] == static_cast<int32_t>(i)) {
                        if (++n_skip > params.max_chain_skip) break;
                    }
                    if (p[jj] >= 0) t[p[jj]] = static_cast<int32_t>(i);
                }
            }
        }
        f[i] = max_f;
        p[i] = max_j;
    }
    const Backtrack bt = chain_backtrack(n, b, params.min_cnt, params.min_chain_score, bw);
    return compact_chains(a, bt, b.v);
}

}  // namespace tessiq
