// velmora::fits - the storage a released HDU leaves for the headers after it:
// record arrays with their records (and the records' strings), and name
// indexes. A file read HDU by HDU, each released after its callback,
// allocates nothing per card once its first HDUs have been read.
#ifndef VELMORA_REUSE_H
#define VELMORA_REUSE_H

#include "fits.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmora {

// Puts a record used before back into the unclassified state, keeping the
// storage of its strings.
void reset(keyword_record& kr);

// The record for the card at position `at` of the header being read into
// `entry` (every position before it filled): a record lent there, reset, or
// else a new one appended.
keyword_record& record_at(hdu_entry& entry, std::size_t at);

// A valued record's name and position as the name index orders them: the
// name's bytes as a big-endian number (a card's name has at most eight),
// then its length, then its position, so that the first record of a name
// comes first.
struct named_record {
    std::uint64_t key;
    std::uint64_t length_and_position;
    bool operator<(const named_record& o) const {
        return key != o.key ? key < o.key : length_and_position < o.length_and_position;
    }
    bool operator==(const named_record& o) const {
        return key == o.key && length_and_position == o.length_and_position;
    }
};

using name_index = std::map<std::string, std::int32_t>;

// The name index of a released header, kept with what describes it.
// Invariant: index_ is exactly the index that the valued names and
// positions in order_ make (both empty when nothing is kept), so a header
// whose valued names stand at the same positions takes index_ whole.
class kept_index {
public:
    // True when a header whose valued names and positions, in card order,
    // are `order` can take this index.
    bool fits(const std::vector<named_record>& order) const { return order == order_; }
    // True when nothing is kept.
    bool empty() const { return index_.empty() && order_.empty(); }
    // Gives the index to `index` (empty before), keeping nothing.
    void give(name_index& index);
    // Keeps `index`, made from `order`, leaving both empty.
    void keep(name_index& index, std::vector<named_record>& order);
    // Hands the index's nodes to `nodes`, keeping nothing.
    void drop(std::vector<name_index::node_type>& nodes);

private:
    name_index index_;
    std::vector<named_record> order_;
};

// What released HDUs leave for the headers read after them.
//
// Records: the record arrays of the last few released headers are kept
// whole. A header is lent the one whose length fits it best (the shortest
// that holds it, else the longest) and parses its cards in place in that
// array's records; when the header ends, the records beyond it are set aside
// whole and lent to the next header that needs more than its array holds.
// No record is ever destroyed, so their strings keep their storage.
//
// Name indexes: the indexes of the last few released headers are kept, each
// with the order that describes it (kept_index). A header whose valued
// names stand at the same positions as a kept one's takes that index whole
// (extensions of one file mostly repeat one layout or a few in turn); any
// other header's index is built in one sorted pass, in nodes of indexes
// dropped before where there are any.
//
// The calls for one header come in this order: lend, then end_header and
// index at its END card, then release once its callback has returned. A
// header whose reading fails is never released; its storage goes with the
// fits_file.
class spare_storage {
public:
    // Lends `entry` (no records yet) the kept record array that fits a
    // header of `cards` cards best, holding `cards` records where the
    // records set aside allow, and room for them all.
    void lend(hdu_entry& entry, std::size_t cards);
    // Ends the header of `entry` at `count` records: those beyond are set aside.
    void end_header(hdu_entry& entry, std::size_t count);
    // Makes krs_map_ (empty before) the index of the entry's valued records.
    void index(hdu_entry& entry);
    // Keeps the record array and index of the entry indexed last, about to
    // be released; the entry is left without records and index.
    void release(hdu_entry& entry);

private:
    static constexpr std::size_t kept_headers = 4;

    std::vector<std::vector<keyword_record>> arrays_;  // released record arrays, oldest first
    std::vector<keyword_record> aside_;                 // records set aside, for headers longer than their array
    kept_index indexes_[kept_headers];                  // released indexes
    std::size_t next_index_ = 0;                        // the kept index to drop when all are taken
    std::vector<named_record> order_;                   // valued names and positions of the header indexed last
    std::vector<named_record> sorted_;                  // the same, sorted: the order of the index
    std::vector<named_record> radix_;                   // sorting space
    std::vector<name_index::node_type> nodes_;          // nodes of dropped indexes
};

}  // namespace velmora

#endif  // VELMORA_REUSE_H
