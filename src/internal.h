// velmora::fits - what the library's source files share and its callers do
// not see: sizes and characters, raising and placing errors, records and the
// storage released HDUs leave, and the reader behind a fits_file.
#ifndef VELMORA_INTERNAL_H
#define VELMORA_INTERNAL_H

#include "fits.h"

#include "byte_source.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// ---------------------------------------------------------------------------
// Sizes and characters
// ---------------------------------------------------------------------------

// Multiplies two sizes, sticking at the largest value instead of wrapping.
inline std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// Adds two sizes, sticking at the largest value instead of wrapping.
inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    if (b > std::numeric_limits<std::uint64_t>::max() - a)
        return std::numeric_limits<std::uint64_t>::max();
    return a + b;
}

// Rounds a byte count up to whole blocks (saturating).
inline std::uint64_t round_up_to_block(std::uint64_t n) {
    std::uint64_t blocks = n / block_size + (n % block_size != 0 ? 1 : 0);
    return saturating_mul(blocks, block_size);
}

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The character at `pos`, or NUL past the end of the text.
inline char at(const std::string& text, std::size_t pos) { return pos < text.size() ? text[pos] : '\0'; }

// Reads an optionally signed decimal integer, saturated to 32 bits (the
// numbers of TFORMn, TDIMn and exponents). Returns false, leaving `pos`,
// when no digit follows the white space and sign.
bool read_decimal(const std::string& text, std::size_t& pos, std::int32_t& value);

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Every error the library raises, and where it says it arose, is made in
// src/errors.cpp; the rule of placement is written there in full. In
// short: the helper that raises an error sets what it knows (a card after
// END, an offset in the data, the keyword and the detail); the reader then
// places every error of an HDU once, filling in the HDU and, where nothing
// set them, the card just read and its offset. The first writer wins.

// How the library fills in where its errors arose (located_error keeps
// these to itself).
struct error_access {
    // The card at fault (0: none).
    static void at_card(located_error& e, std::int32_t card) { e.at_card(card); }
    static bool card_known(const located_error& e) { return e.card_known_; }
    // The input offset of what is at fault, when it is no card.
    static void at_offset(located_error& e, std::uint64_t offset) { e.at_offset(offset); }
    // The keyword at fault and what the user is told about it.
    static void about(located_error& e, const std::string& keyword, const std::string& detail) {
        e.about(keyword, detail);
    }
    // Fills in the HDU, and the card and offset where not known yet.
    static void place(located_error& e, std::int32_t hdu, std::int32_t card, std::uint64_t offset) {
        e.place(hdu, card, offset);
    }
    static bool placed(const located_error& e) { return e.placed_; }
    // An error of no HDU (the input cannot be opened or read): complete as it is.
    static void at_no_hdu(located_error& e) { e.placed_ = true; }
};

// Places an error of HDU `hdu` (counted from 1) whose header starts at
// input offset `hdu_start`, `cards_read` of its cards read so far; `last_card`
// is the card just read (null when none is in the block).
void place_in_hdu(located_error& e, std::int32_t hdu, std::int32_t cards_read, std::uint64_t hdu_start,
                  const char* last_card);

// "NAME = value" of a valued record, the value as a card would hold it.
std::string record_text(const keyword_record& kr);

// A structural fault with a fixed text.
[[noreturn]] void fail(const char* message);
// A fault of the keyword `keyword`, with what the user is told about it
// (escaped here).
[[noreturn]] void fail_about(const std::string& keyword, const std::string& detail, const char* message);
// A column format that ends before a character it must hold: the standard
// text "invalid string position".
[[noreturn]] void fail_position();
// The input cannot be opened or read (`text` says why): an error of no HDU.
[[noreturn]] void cannot_read(const std::string& text);

// The value of the keyword of the record `kr`, just read, is refused.
[[noreturn]] void refuse(const keyword_record& kr, const char* message);
// The record `kr`, just read in a mandatory keyword's place, is not the
// valued keyword `name` of type `dt`.
[[noreturn]] void refuse_mandatory(const keyword_record& kr, const std::string& name, std::int32_t dt);
// Adds the record `kr`, just read, to an error about its value.
void about_record(located_error& e, const keyword_record& kr);
// An error about the record at `pos`, found after END: its card is named.
void name_record(located_error& e, const hdu_entry& entry, hdu_entry::position pos, const std::string& detail);
// The value of the keyword at `pos`, found after END, is refused.
[[noreturn]] void refuse_at(const hdu_entry& entry, hdu_entry::position pos, const char* message);
// The keyword at `pos`, found after END, is not of type `dt`.
[[noreturn]] void refuse_type_at(const hdu_entry& entry, hdu_entry::position pos, std::int32_t dt);
// The required keyword `name` is missing: no card is named.
[[noreturn]] void keyword_missing(const std::string& name);

// The input, `end` bytes long, ends before the first HDU's first block.
[[noreturn]] void input_ends_before_first_block(std::uint64_t end);
// The input, `end` bytes long, ends before card `next_card` of a header.
[[noreturn]] void input_ends_in_header(std::int32_t next_card, std::uint64_t end);
// The input, `end` bytes long, ends before the `n` data bytes from input
// offset `from` (to `to` with padding; the largest 64-bit value: beyond it).
[[noreturn]] void input_ends_in_data(std::uint64_t from, std::uint64_t n, std::uint64_t to, std::uint64_t end);
// The `n` data bytes from input offset `from` are more than one buffer of
// this build can hold (at most `most`).
[[noreturn]] void data_too_large(std::uint64_t from, std::uint64_t n, std::uint64_t most);

// Runs `parse` on the value of the keyword at `pos`; an error it raises
// names that keyword's card.
template <typename Parse>
void parse_value_of(const hdu_entry& entry, hdu_entry::position pos, Parse parse) {
    try {
        parse();
    } catch (located_error& e) {
        name_record(e, entry, pos, record_text(*pos));
        throw;
    }
}

// The string value of a column keyword, and its position (the end when
// absent and not `required`); an empty string ('') counts as the empty
// string. Another type is "Unexpected keyword value type".
hdu_entry::position column_string(const hdu_entry& entry, const std::string& name, bool required, std::string& value);

// The value of an optional column scale or zero (TSCALn, TZEROn), kept in
// `value` when present: a floating value, or an integer of any size as the
// nearest double. Any other type is refused as a floating keyword's would be.
void column_real(const hdu_entry& entry, const std::string& name, double& value);

// Reads BITPIX, NAXIS and NAXIS1 ... NAXISn, each at its place, into the
// element type and the axis lengths ("Primary HDU: bad BITPIX", "... bad
// NAXIS", "... bad dimension"): the array keywords of primary, IMAGE and
// other conforming extensions alike.
void read_array_keywords(file_reader& in, hdu_entry& entry, std::int32_t& data_type, std::vector<std::int32_t>& dims);

// A mandatory integer keyword of a table's header: its name, the test its
// value must pass, the message when it does not, and where the value is
// kept (null: nowhere).
struct mandatory_count {
    const char* name;
    bool (*valid)(std::int32_t);
    const char* message;
    std::int32_t* kept;
};

// Reads a table's first card, which must be XTENSION = `type`, and then its
// mandatory integer keywords `counts`, each at its place, in order.
void read_table_keywords(file_reader& in, hdu_entry& entry, const std::string& first_card, const char* type,
                         std::initializer_list<mandatory_count> counts);

// The integer value of an optional keyword, `absent` when missing; a value
// of another type is "Unexpected keyword value type", and a negative one is
// refused with `negative`.
std::int32_t optional_count(const hdu_entry& entry, const std::string& name, std::int32_t absent,
                            const char* negative);

// ---------------------------------------------------------------------------
// Records and the storage released HDUs leave
// ---------------------------------------------------------------------------

// The record for the card at position `at` of the header being read into
// `entry` (every position before it filled): a record lent there, reset, or
// else a new one appended.
keyword_record& record_at(hdu_entry& entry, std::size_t at);

// A valued record's name and position as the name index orders them: the
// name's first eight bytes as a big-endian number (all of a name in columns
// 1-8; a HIERARCH name is longer), then its length, then its position, so
// that the first record of a name comes first.
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

// ---------------------------------------------------------------------------
// The reader
// ---------------------------------------------------------------------------

// The reading behind a fits_file: its input, the block being read, where the
// HDU and card being read lie, and the storage released HDUs leave. The HDU
// readers reach it through of(); fits_file's block operations are its own.
class file_reader {
public:
    // A reader at the start of `source`, which it reads in `mode`.
    file_reader(std::unique_ptr<byte_source> source, read_mode mode);
    ~file_reader();
    file_reader(const file_reader&) = delete;
    file_reader& operator=(const file_reader&) = delete;

    // The reader of `file`.
    static file_reader& of(fits_file& file) { return *file.reader_; }

    // Reads every HDU of the input into `file`, handing each to `on_hdu` and
    // releasing it after when `keep` says so, then lets the input go.
    void read_hdus(fits_file& file, const fits_file::hdu_callback& on_hdu, keep_mode keep);

    // The block operations (see fits_file).
    void read_card(std::string& card);
    void read_bytes(char* dest, std::uint64_t n);
    void skip_bytes(std::uint64_t n);
    void end_block();

    // What the HDU readers use besides the block operations:

    // Lends the entry storage for the header's records, as many as the
    // reader can see; called before its first card's record is made.
    void begin_records(hdu_entry& entry);
    // Reads the next card as the header's next record, the mandatory
    // integer keyword `name`; the caller checks the value.
    const keyword_record& read_mandatory(hdu_entry& entry, const std::string& name);
    // Reads every further card up to and including END as the header's
    // next records, then indexes the header's names.
    void read_free_cards(hdu_entry& entry);
    // Passes over the next `n` data bytes as read_bytes would read them.
    void pass_bytes(std::uint64_t n);
    // Reads `n` data bytes into `buffer` (headers-only mode: passes over
    // them instead, leaving `buffer` empty). A sized input is checked to
    // hold them before anything is allocated; from a stream the buffer grows
    // in bounded steps as the bytes arrive.
    void load_data(std::vector<char>& buffer, std::uint64_t n);
    // Of two places where the current HDU's data may end, `nearer` or
    // `farther` bytes ahead: true when the input bears out the nearer one,
    // because the block after it starts an extension ("XTENSION= ") or the
    // input does not hold the farther one, block-rounded.
    bool data_ends_nearer(std::uint64_t nearer, std::uint64_t farther);

    char block_[block_size];                 // the most recently loaded block
    std::uint32_t block_pos_ = block_size;   // next unread byte of block_; block_size when used up

private:
    // Bytes of data a failure names: from where, how many, to where with padding.
    struct extent {
        std::uint64_t from, n, to;
    };

    bool next_hdu_block();
    std::int32_t kind_from_first_card(const std::string& first_card) const;
    static std::string extension_type(const std::string& first_card);
    bool load_block();
    std::uint64_t reading_position() const;
    std::uint64_t beyond_block(std::uint64_t n) const;
    std::uint64_t data_end(std::uint64_t n) const;
    extent data_extent(std::uint64_t n) const;
    void require_data(std::uint64_t n) const;
    void read_data(char* dest, std::uint64_t n, const extent& whole);
    [[noreturn]] void header_not_held() const;
    [[noreturn]] void first_block_not_held() const;
    [[noreturn]] void data_not_held(const extent& whole) const;
    void place_error(located_error& e) const;
    std::size_t cards_to_end();

    read_mode mode_;                         // data loaded or passed over
    std::unique_ptr<byte_source> source_;    // the input being read
    spare_storage spare_;                    // storage released HDUs left for the next
    std::int32_t hdus_read_ = 0;             // HDUs read so far, kept or released
    std::uint64_t hdu_start_ = 0;            // input offset of the HDU being read
    std::int32_t cards_read_ = 0;            // cards of its header read so far
    std::string card_;                       // the card being read after the first
    std::size_t header_cards_ = 0;           // cards of the header being read, as far as seen
};

}  // namespace velmora

#endif  // VELMORA_INTERNAL_H
