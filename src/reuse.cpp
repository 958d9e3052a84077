// velmora::fits - the storage a released HDU leaves for the headers after it.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velmora {

namespace {

// Puts a record used before back into the unclassified state, keeping the
// storage of its strings: every member of keyword_record to its initial
// value.
void reset(keyword_record& kr) {
    kr.type_ = KWRT_NONE;
    kr.dt_ = DT_UNKNOWN;
    kr.name_.clear();
    kr.comment_.clear();
    kr.is_null_ = true;
    kr.bool_value_ = false;
    kr.int_value_ = 0;
    kr.int64_value_ = 0;
    kr.double_value_ = 0.0;
    kr.string_value_.clear();
    kr.complex_int_value_ = {0, 0};
    kr.complex_double_value_ = {0.0, 0.0};
    kr.owner_ = nullptr;
    kr.index_ = 0;
}

}  // namespace

keyword_record& record_at(hdu_entry& entry, std::size_t at) {
    std::vector<keyword_record>& krs = entry.krs_;
    if (at < krs.size()) {
        reset(krs[at]);
        return krs[at];
    }
    return krs.emplace_back();
}

namespace {

// A name of at most eight bytes as a number: its bytes big-endian, zero-filled.
std::uint64_t name_key(const std::string& name) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, name.data(), std::min<std::size_t>(name.size(), 8));
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return __builtin_bswap64(word);
#else
    std::uint64_t key = 0;
    for (unsigned char b : bytes) key = key << 8 | b;
    return key;
#endif
}

std::uint64_t length_of(const named_record& n) { return n.length_and_position >> 32; }

// Sorts names given in card order by key, then length, then position. A
// long header's names are sorted by a stable radix sort on the length and
// the eight key bytes, least significant first (positions stay in card
// order among equal names), passing over the bytes that all names share;
// `spare` is its second buffer.
void sort_names(std::vector<named_record>& names, std::vector<named_record>& spare) {
    const std::size_t n = names.size();
    if (n < 256) {
        std::sort(names.begin(), names.end());
        return;
    }
    spare.resize(n);
    auto byte = [](const named_record& r, int pass) {
        return static_cast<std::size_t>(pass == 0 ? length_of(r) & 0xff : r.key >> (8 * (pass - 1)) & 0xff);
    };
    // Where each byte value of each pass starts, counted in one reading.
    std::size_t start[9][257] = {};
    for (const named_record& r : names) {
        ++start[0][(length_of(r) & 0xff) + 1];
        for (int pass = 1; pass < 9; ++pass) ++start[pass][(r.key >> (8 * (pass - 1)) & 0xff) + 1];
    }
    for (int pass = 0; pass < 9; ++pass) {
        std::size_t* at = start[pass];
        if (std::find(at + 1, at + 257, n) != at + 257) continue;  // one byte for all
        for (std::size_t b = 1; b < 257; ++b) at[b] += at[b - 1];
        for (const named_record& r : names) spare[at[byte(r, pass)]++] = r;
        names.swap(spare);
    }
}
std::int32_t position_of(const named_record& n) { return static_cast<std::int32_t>(n.length_and_position & 0xffffffffu); }

}  // namespace

void kept_index::give(name_index& index) {
    index.swap(index_);
    order_.clear();
}

void kept_index::keep(name_index& index, std::vector<named_record>& order) {
    index_.swap(index);
    order_.swap(order);
}

void kept_index::drop(std::vector<name_index::node_type>& nodes) {
    while (!index_.empty()) nodes.push_back(index_.extract(index_.begin()));
    order_.clear();
}

void spare_storage::lend(hdu_entry& entry, std::size_t cards) {
    // The shortest array that holds the header without holding over twice
    // its records; else the longest that is too short, to grow. A header
    // much shorter than every array (a short one after long ones) starts
    // an array of its own, so that the long ones stay whole for long headers.
    const std::size_t none = arrays_.size();
    std::size_t fit = none, grow = none;
    for (std::size_t i = 0; i < arrays_.size(); ++i) {
        const std::size_t length = arrays_[i].size();
        if (length >= cards && length <= 2 * cards + 16) {
            if (fit == none || length < arrays_[fit].size()) fit = i;
        } else if (length < cards) {
            if (grow == none || length > arrays_[grow].size()) grow = i;
        }
    }
    std::vector<keyword_record>& krs = entry.krs_;
    const std::size_t chosen = fit != none ? fit : grow;
    if (chosen != none) {
        krs.swap(arrays_[chosen]);
        arrays_.erase(arrays_.begin() + static_cast<std::ptrdiff_t>(chosen));
    }
    krs.reserve(cards);
    while (krs.size() < cards && !aside_.empty()) {
        krs.push_back(std::move(aside_.back()));
        aside_.pop_back();
    }
}

void spare_storage::end_header(hdu_entry& entry, std::size_t count) {
    std::vector<keyword_record>& krs = entry.krs_;
    for (std::size_t i = count; i < krs.size(); ++i) aside_.push_back(std::move(krs[i]));
    krs.erase(krs.begin() + static_cast<std::ptrdiff_t>(count), krs.end());
}

void spare_storage::index(hdu_entry& entry) {
    const std::vector<keyword_record>& krs = entry.krs_;
    order_.clear();
    bool long_names = false;
    for (std::size_t i = 0; i < krs.size(); ++i) {
        const keyword_record& kr = krs[i];
        if (kr.type_ != KWRT_VALUE) continue;
        order_.push_back({name_key(kr.name_), static_cast<std::uint64_t>(kr.name_.size()) << 32 | i});
        long_names = long_names || kr.name_.size() > 8;
    }
    // A kept index is described by its names' keys, lengths and places,
    // which tell names of up to eight bytes apart; a header with longer
    // (HIERARCH) names builds its own.
    for (kept_index& kept : indexes_) {
        if (!long_names && !kept.empty() && kept.fits(order_)) {
            kept.give(entry.krs_map_);
            return;
        }
    }

    // Sorted, each name goes at the end of the index, once: the first
    // record of a name sorts first. A name of at most eight bytes is told
    // apart from every other by its key and length; longer names sharing
    // their first eight bytes and length sort by place, so the index itself
    // keeps the first of each (it takes no second entry of a name).
    sorted_ = order_;
    sort_names(sorted_, radix_);
    name_index& index = entry.krs_map_;
    for (std::size_t k = 0; k < sorted_.size(); ++k) {
        if (k > 0 && sorted_[k].key == sorted_[k - 1].key && length_of(sorted_[k]) == length_of(sorted_[k - 1]) &&
            length_of(sorted_[k]) <= 8)
            continue;
        const std::int32_t at = position_of(sorted_[k]);
        const std::string& name = krs[static_cast<std::size_t>(at)].name_;
        if (nodes_.empty()) {
            index.emplace_hint(index.end(), name, at);
            continue;
        }
        name_index::node_type node = std::move(nodes_.back());
        nodes_.pop_back();
        node.key() = name;
        node.mapped() = at;
        index.insert(index.end(), std::move(node));
        if (!node.empty()) nodes_.push_back(std::move(node));  // a name already in the index leaves its node
    }
}

void spare_storage::release(hdu_entry& entry) {
    if (arrays_.capacity() == 0) arrays_.reserve(kept_headers + 1);
    arrays_.push_back(std::move(entry.krs_));
    entry.krs_.clear();
    if (arrays_.size() > kept_headers) {
        for (keyword_record& kr : arrays_.front()) aside_.push_back(std::move(kr));
        arrays_.erase(arrays_.begin());
    }

    // The index goes where nothing is kept; when every place is taken, the
    // kept indexes are dropped for it in turn, their nodes serving later
    // builds.
    kept_index* place = nullptr;
    for (kept_index& kept : indexes_) {
        if (kept.empty()) {
            place = &kept;
            break;
        }
    }
    if (!place) {
        place = &indexes_[next_index_];
        next_index_ = (next_index_ + 1) % kept_headers;
        place->drop(nodes_);
    }
    // order_ describes the entry's index: it was made from order_ by
    // index(), the last call before this one.
    place->keep(entry.krs_map_, order_);
}

}  // namespace velmora
