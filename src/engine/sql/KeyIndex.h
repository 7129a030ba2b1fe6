// The records of a SQL table as the driver walks them: every row's identity (its key, or
// the server's row id) in one flat buffer, in byte order, with deleted rows marked rather
// than removed, so that positions stay put and ordinals are found in logarithmic time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine::sql {

class KeyIndex {
public:
    //! Takes the identities, each of the given width and written one after the other;
    //! sorts them when sorted is true.
    void assign(std::string keys, std::size_t width, bool sorted);

    //! Makes room for n identities.
    void reserve(std::size_t n);
    //! Adds identities (of this width, one after the other) that all follow the last one.
    void append(std::string_view keys);
    std::size_t width() const { return width_; }
    bool sorted() const { return sorted_; }
    //! Slots, the dead ones included; positions are slot numbers.
    std::size_t slots() const { return dead_.size(); }
    std::int64_t live() const { return static_cast<std::int64_t>(slots()) - deadCount_; }
    std::string_view key(std::size_t slot) const {
        return std::string_view(keys_).substr(slot * width_, width_);
    }
    bool isDead(std::size_t slot) const { return dead_[slot]; }

    //! The slot of the live record with this 0-based ordinal.
    std::size_t slotOf(std::int64_t ordinal) const;
    //! The 0-based ordinal of a live slot.
    std::int64_t ordinalOf(std::size_t slot) const;
    std::optional<std::size_t> firstLive() const;
    std::optional<std::size_t> lastLive() const;
    std::optional<std::size_t> nextLive(std::size_t slot) const;
    std::optional<std::size_t> priorLive(std::size_t slot) const;
    //! The live slot of an identity.
    std::optional<std::size_t> find(std::string_view key) const;

    void kill(std::size_t slot);
    //! Replaces a slot's identity in place (a row whose row id changed); unsorted only.
    void replace(std::size_t slot, std::string_view key);
    //! Adds an identity and returns its slot. An identity after the last one (or any
    //! identity of an unsorted index) is appended and every other slot stays; otherwise the
    //! slots are numbered afresh and renumbered is set.
    std::size_t insert(std::string_view key, bool& renumbered);

private:
    void push(std::string_view key); //!< a new last slot
    void add(std::size_t slot, int delta);
    std::int64_t deadBefore(std::size_t slot) const; //!< dead slots in [0, slot)
    void rebuildTree();

    std::size_t width_ = 0;
    bool sorted_ = true;
    std::string keys_;
    std::vector<bool> dead_;
    //! Fenwick tree over dead_ (1-based); empty while no slot is dead
    std::vector<std::int64_t> tree_;
    std::int64_t deadCount_ = 0;
};

} // namespace fieldsmith::engine::sql
