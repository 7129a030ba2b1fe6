#include "KeyIndex.h"

#include "../EngineError.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace fieldsmith::engine::sql {

void KeyIndex::assign(std::string keys, std::size_t width, bool sorted) {
    if (width == 0 || keys.size() % width != 0)
        throw EngineError("Row identities of one table differ in length");
    width_ = width;
    sorted_ = sorted;
    keys_ = std::move(keys);
    const std::size_t n = keys_.size() / width;
    auto at = [&](std::size_t i) { return std::string_view(keys_).substr(i * width, width); };
    bool inOrder = true;
    for (std::size_t i = 1; i < n && inOrder; ++i)
        inOrder = at(i - 1) <= at(i);
    if (sorted && !inOrder) {
        std::vector<std::size_t> order(n);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return at(a) < at(b); });
        std::string ordered;
        ordered.reserve(keys_.size());
        for (std::size_t i : order)
            ordered += at(i);
        keys_ = std::move(ordered);
    }
    dead_.assign(n, false);
    deadCount_ = 0;
    tree_.clear();
}

void KeyIndex::reserve(std::size_t n) {
    keys_.reserve(n * width_);
    dead_.reserve(n);
}

void KeyIndex::append(std::string_view keys) {
    if (keys.empty()) return;
    if (width_ == 0 || keys.size() % width_ != 0)
        throw EngineError("Row identities of one table differ in length");
    const std::size_t n = keys.size() / width_;
    if (sorted_) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view k = keys.substr(i * width_, width_);
            const std::string_view before =
                i > 0 ? keys.substr((i - 1) * width_, width_)
                      : (slots() > 0 ? key(slots() - 1) : std::string_view());
            if ((i > 0 || slots() > 0) && !(before < k))
                throw EngineError("Row identities to append are not in order");
        }
    }
    // Without dead slots there is no tree yet: the batch goes in whole.
    if (deadCount_ == 0) {
        keys_.append(keys);
        dead_.resize(dead_.size() + n, false);
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        push(keys.substr(i * width_, width_));
}

void KeyIndex::push(std::string_view key) {
    keys_.append(key);
    dead_.push_back(false);
    if (deadCount_ == 0) return; // no tree until a slot dies
    // The new tree node covers the slots (n + 1 - lowbit, n + 1]: their dead count.
    const std::size_t at = dead_.size();
    const std::size_t low = at & (~at + 1);
    tree_.push_back(deadBefore(at - 1) - deadBefore(at - low));
}

void KeyIndex::rebuildTree() {
    const std::size_t n = dead_.size();
    tree_.assign(n + 1, 0);
    for (std::size_t i = 1; i <= n; ++i) {
        tree_[i] += dead_[i - 1] ? 1 : 0;
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= n) tree_[parent] += tree_[i];
    }
}

void KeyIndex::add(std::size_t slot, int delta) {
    for (std::size_t i = slot + 1; i < tree_.size(); i += i & (~i + 1))
        tree_[i] += delta;
}

std::int64_t KeyIndex::deadBefore(std::size_t slot) const {
    if (deadCount_ == 0) return 0;
    std::int64_t sum = 0;
    for (std::size_t i = slot; i > 0; i -= i & (~i + 1))
        sum += tree_[i];
    return sum;
}

std::int64_t KeyIndex::ordinalOf(std::size_t slot) const {
    return static_cast<std::int64_t>(slot) - deadBefore(slot);
}

// Walks down the tree for the longest prefix of slots holding at most `ordinal` live ones;
// the slot after it is the one wanted.
std::size_t KeyIndex::slotOf(std::int64_t ordinal) const {
    const std::size_t n = dead_.size();
    if (deadCount_ == 0)
        return std::min(static_cast<std::size_t>(std::max<std::int64_t>(ordinal, 0)), n);
    std::size_t step = 1;
    while (step * 2 <= n)
        step *= 2;
    std::size_t pos = 0;
    std::int64_t rest = ordinal;
    for (; step > 0; step /= 2) {
        const std::size_t next = pos + step;
        if (next > n) continue;
        const std::int64_t liveHere = static_cast<std::int64_t>(step) - tree_[next];
        if (liveHere <= rest) {
            pos = next;
            rest -= liveHere;
        }
    }
    return pos;
}

std::optional<std::size_t> KeyIndex::firstLive() const {
    return live() > 0 ? std::optional<std::size_t>(slotOf(0)) : std::nullopt;
}

std::optional<std::size_t> KeyIndex::lastLive() const {
    return live() > 0 ? std::optional<std::size_t>(slotOf(live() - 1)) : std::nullopt;
}

std::optional<std::size_t> KeyIndex::nextLive(std::size_t slot) const {
    for (std::size_t s = slot + 1; s < dead_.size(); ++s)
        if (!dead_[s]) return s;
    return std::nullopt;
}

std::optional<std::size_t> KeyIndex::priorLive(std::size_t slot) const {
    for (std::size_t s = std::min(slot, dead_.size()); s-- > 0;)
        if (!dead_[s]) return s;
    return std::nullopt;
}

std::optional<std::size_t> KeyIndex::find(std::string_view key) const {
    if (key.size() != width_ || dead_.empty()) return std::nullopt;
    if (!sorted_) {
        for (std::size_t s = 0; s < dead_.size(); ++s)
            if (!dead_[s] && this->key(s) == key) return s;
        return std::nullopt;
    }
    std::size_t lo = 0, hi = dead_.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (this->key(mid) < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    // A dead slot may hold the same identity as a live one inserted after it.
    for (std::size_t s = lo; s < dead_.size() && this->key(s) == key; ++s)
        if (!dead_[s]) return s;
    return std::nullopt;
}

void KeyIndex::kill(std::size_t slot) {
    if (dead_[slot]) return;
    dead_[slot] = true;
    // The tree over the dead slots is built when the first one dies: walks that only
    // change records in place never need it.
    if (deadCount_++ == 0) {
        rebuildTree();
        return;
    }
    add(slot, 1);
}

void KeyIndex::replace(std::size_t slot, std::string_view key) {
    std::memcpy(keys_.data() + slot * width_, key.data(), width_);
}

std::size_t KeyIndex::insert(std::string_view key, bool& renumbered) {
    renumbered = false;
    if (width_ == 0 && dead_.empty()) width_ = key.size();
    if (key.size() != width_) throw EngineError("Row identities of one table differ in length");
    if (!sorted_ || dead_.empty() || this->key(dead_.size() - 1) < key) {
        push(key);
        return dead_.size() - 1;
    }
    // In the middle: the slots are laid out afresh without the dead ones.
    std::string all;
    all.reserve((static_cast<std::size_t>(live()) + 1) * width_);
    for (std::size_t s = 0; s < dead_.size(); ++s)
        if (!dead_[s]) all += this->key(s);
    all += key;
    assign(std::move(all), width_, true);
    renumbered = true;
    return *find(key);
}

} // namespace fieldsmith::engine::sql
