// velmora::fits - a small reader of FITS headers.
//
// A FITS file is a sequence of 2880-byte blocks. Each header-and-data unit
// (HDU) starts at a block boundary with a header of 80-character cards, 36 to
// a block, closed by an END card; its data follows in whole blocks. This
// library splits a file into its HDUs, parses every card into a typed
// keyword record, checks the mandatory keywords of primary, IMAGE, ASCII
// TABLE, BINTABLE and other conforming extension HDUs in the order the FITS
// standard prescribes, and keeps each HDU's data.
//
// Structural faults in a file are reported as std::logic_error with fixed
// texts ("Unexpected keyword", "Bad THEAP value in BINTABLE", ...). A file
// that cannot be opened, or that ends inside a header or inside data, is
// reported as a std::ios_base::failure (see velmora::read_error), and so is
// data to load that one buffer of the build cannot hold ("data too large to
// hold in memory": over 2 GiB on a 32-bit build; headers-only reading passes
// over data of any size). Each
// carries, beside its text, where it arose (see velmora::location_of):
//
//   try {
//       velmora::fits_file file(path);
//   } catch (const std::exception& e) {
//       const velmora::error_location* at = velmora::location_of(e);
//       if (at && at->hdu != 0)
//           std::cerr << "HDU " << at->hdu << ", card " << at->card << " (byte " << at->offset << "): ";
//       std::cerr << e.what() << (at && !at->detail.empty() ? ": " + at->detail : "") << '\n';
//   }
#ifndef VELMORA_FITS_H
#define VELMORA_FITS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ios>
#include <istream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Preconditions
// ---------------------------------------------------------------------------

// Checks a caller contract in every build type; on failure reports the
// expression, source file and line on standard error and aborts.
#define VELMORA_ASSERT(expr) \
    ((expr) ? static_cast<void>(0) : ::velmora::assertion_failed(#expr, __FILE__, __LINE__))

namespace velmora {

// Reports a failed precondition and aborts the process.
[[noreturn]] void assertion_failed(const char* expr, const char* file, int line);

// ---------------------------------------------------------------------------
// Constants and enumerations
// ---------------------------------------------------------------------------

// Size of one FITS block in bytes.
constexpr std::uint32_t block_size = 2880;
// Size of one header card in bytes.
constexpr std::uint32_t card_size = 80;

// Record type of a parsed header card.
enum : std::int32_t {
    KWRT_NONE = 0,      // not classified (fresh record, or while parsing)
    KWRT_VALUE = 1,     // a keyword with the value indicator "= "
    KWRT_END = 2,       // the END card
    KWRT_COMMENT = 3,   // a COMMENT card
    KWRT_HISTORY = 4,   // a HISTORY card
    KWRT_BLANK = 5,     // a card with a blank keyword name
    KWRT_CONTINUE = 6,  // a CONTINUE card (a string continuation)
    KWRT_COMMENTARY = 7 // another keyword without the value indicator: no value, its comment kept
};

// Data type of a keyword value or of a data element.
enum : std::int32_t {
    DT_UNKNOWN = 0,         // no value
    DT_BOOL = 1,            // logical
    DT_BYTE = 2,            // unsigned byte element
    DT_INT16 = 3,           // 16-bit integer element
    DT_INT = 4,             // 32-bit integer value or element
    DT_INT64 = 5,           // 64-bit integer value (beyond 32 bits) or element
    DT_FLOAT = 6,           // single-precision element
    DT_DOUBLE = 7,          // double value or element
    DT_STRING = 8,          // character string value
    DT_COMPLEX_INT = 9,     // complex value with integer parts
    DT_COMPLEX_DOUBLE = 10  // complex value with floating parts
};

// Number of DT_* codes.
constexpr std::int32_t data_type_count = 11;
// Printed name of each DT_* code ("unknown", "logical", "int32", ...).
extern const char* const data_type_name[data_type_count];
// Element size in bytes of each DT_* code.
extern const std::uint32_t data_type_size[data_type_count];

// Kind of an HDU.
enum : std::int32_t {
    HT_PRIMARY = 0,   // the primary HDU
    HT_IMAGE = 1,     // an IMAGE extension
    HT_TABLE = 2,     // an ASCII TABLE extension
    HT_BINTABLE = 3,  // a BINTABLE extension
    HT_EXTENSION = 4  // a conforming extension of any other type (its data passed over whole)
};

// Number of HT_* codes.
constexpr std::int32_t hdu_kind_count = 5;

// Column type of a BINTABLE column, one per TFORM type letter.
enum : std::int32_t {
    CT_NONE = 0,            // not set (a fresh column)
    CT_LOGICAL = 1,         // L
    CT_BIT = 2,             // X
    CT_BYTE = 3,            // B
    CT_INT16 = 4,           // I
    CT_INT32 = 5,           // J
    CT_INT64 = 6,           // K
    CT_CHAR = 7,            // A
    CT_FLOAT = 8,           // E
    CT_DOUBLE = 9,          // D
    CT_COMPLEX_FLOAT = 10,  // C
    CT_COMPLEX_DOUBLE = 11, // M
    CT_DESC32 = 12,         // P: array descriptor with 32-bit fields
    CT_DESC64 = 13          // Q: array descriptor with 64-bit fields
};

// Number of CT_* codes.
constexpr std::int32_t column_type_count = 14;
// Bytes per element of each CT_* code (0 for CT_NONE, CT_BIT and the descriptors).
extern const std::int32_t column_type_width[column_type_count];

// How a fits_file treats the data of its HDUs.
enum read_mode : std::int32_t {
    RM_LOAD_DATA = 0,    // read every data array and heap into memory
    RM_HEADERS_ONLY = 1  // pass over the data, checking only that the file holds it
};

// What a fits_file does with an HDU once it has been read and handed on.
enum keep_mode : std::int32_t {
    KM_KEEP_HDUS = 0,    // keep every HDU in hdus_
    KM_RELEASE_HDUS = 1  // release each HDU after its callback; hdus_ stays empty
};

class fits_file;
class hdu_entry;
class hdu_bintable;

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Where in the input an error arose, kept beside its fixed text.
struct error_location {
    std::int32_t hdu = 0;       // HDU at fault, counted from 1; 0: none (the input cannot be opened or read)
    std::int32_t card = 0;      // card of that HDU's header, counted from 1; 0: no card is at fault
    std::uint64_t offset = 0;   // input offset of that card; without a card, of the HDU or where the input ended
    std::string keyword;        // the keyword at fault, exactly as on its card; "" when none
    std::string detail;         // one line a user needs to mend the file, bytes outside 0x20-0x7E as \xNN; "" when none
};

struct error_access;

// What every error of this library carries besides its text: its location.
class located_error {
public:
    virtual ~located_error();
    // Where the error arose.
    const error_location& where() const noexcept { return where_; }

private:
    friend struct error_access;  // the library, as it raises and places the error
    void at_card(std::int32_t card);
    void at_offset(std::uint64_t offset);
    void about(const std::string& keyword, const std::string& detail);
    void place(std::int32_t hdu, std::int32_t card, std::uint64_t offset);

    error_location where_;
    bool card_known_ = false;
    bool offset_known_ = false;
    bool placed_ = false;
};

// A structural fault of a file, with a fixed text ("Unexpected keyword", ...).
class format_error : public std::logic_error, public located_error {
public:
    explicit format_error(const char* text) : std::logic_error(text) {}
};

// A column format cut short: the standard text "invalid string position".
class format_range_error : public std::out_of_range, public located_error {
public:
    explicit format_range_error(const char* text) : std::out_of_range(text) {}
};

// A stream failure with a plain text: the file cannot be opened or read, or
// it ends inside a header or inside data.
class read_error : public std::ios_base::failure, public located_error {
public:
    // Creates the failure with the given text.
    explicit read_error(const std::string& text);
    // The text given at construction, without decoration.
    const char* what() const noexcept override;

private:
    std::string text_;
};

// The location an error of this library carries; null for any other error.
const error_location* location_of(const std::exception& e) noexcept;

// `bytes` as a line can show them: each byte outside printable ASCII
// (0x20-0x7E) as \xNN with two lower-case hex digits, every other as it is.
std::string printable(const std::string& bytes);

// ---------------------------------------------------------------------------
// Keyword records
// ---------------------------------------------------------------------------

// One parsed 80-character header card.
class keyword_record {
public:
    // A record in the unclassified state (set by the member initialisers).
    keyword_record() noexcept {}
    // Parses `card` for `entry` (see parse).
    keyword_record(const hdu_entry& entry, const std::string& card);

    // Fills this fresh record from one 80-character card; throws
    // std::logic_error on a malformed card.
    void parse(const hdu_entry& entry, const std::string& card);

    // Record type (KWRT_*).
    std::int32_t get_type() const { return type_; }
    // True when the keyword has no value.
    bool is_null() const {
        VELMORA_ASSERT(type_==KWRT_VALUE);
        return is_null_;
    }
    // Data type of the value (DT_*).
    std::int32_t get_dt() const {
        VELMORA_ASSERT(type_==KWRT_VALUE);
        return dt_;
    }
    // Keyword name.
    const std::string& get_name() const {
        VELMORA_ASSERT(type_==KWRT_VALUE);
        return name_;
    }
    // Logical value.
    bool get_bool() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_BOOL);
        return bool_value_;
    }
    // Integer value within 32 bits.
    std::int32_t get_int() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_INT);
        return int_value_;
    }
    // Integer value beyond 32 bits, within 64.
    std::int64_t get_int64() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_INT64);
        return int64_value_;
    }
    // Floating value.
    double get_double() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_DOUBLE);
        return double_value_;
    }
    // String value (also of a CONTINUE card).
    const std::string& get_string() const {
        VELMORA_ASSERT((type_==KWRT_VALUE||type_==KWRT_CONTINUE) && !is_null_ && dt_==DT_STRING);
        return string_value_;
    }
    // Complex value with integer parts (real, imaginary).
    const std::pair<std::int32_t, std::int32_t>& get_complex_int() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_COMPLEX_INT);
        return complex_int_value_;
    }
    // Complex value with floating parts (real, imaginary).
    const std::pair<double, double>& get_complex_double() const {
        VELMORA_ASSERT(type_==KWRT_VALUE && !is_null_ && dt_==DT_COMPLEX_DOUBLE);
        return complex_double_value_;
    }

    // The record's members. A record is used again for later cards: reset()
    // in src/reuse.cpp must return every member below to its initial value,
    // so a member added here is added there too.
    std::int32_t type_ = KWRT_NONE;         // record type (KWRT_*)
    std::int32_t dt_ = DT_UNKNOWN;          // data type of the value (DT_*)
    std::string name_;                      // columns 1-8 up to the first blank; "HIERARCH " and the keyword of a HIERARCH card
    std::string comment_;                   // comment text
    bool is_null_ = true;                   // true when there is no value
    bool bool_value_ = false;               // value for DT_BOOL
    std::int32_t int_value_ = 0;            // value for DT_INT
    std::int64_t int64_value_ = 0;          // value for DT_INT64
    double double_value_ = 0.0;             // value for DT_DOUBLE
    std::string string_value_;              // value for DT_STRING
    std::pair<std::int32_t, std::int32_t> complex_int_value_{0, 0};  // value for DT_COMPLEX_INT
    std::pair<double, double> complex_double_value_{0.0, 0.0};       // value for DT_COMPLEX_DOUBLE
    const hdu_entry* owner_ = nullptr;      // the entry the card was parsed for (not owned)
    std::int32_t index_ = 0;                // the record's position among that entry's records

private:
    void parse_hierarch(const std::string& card);
    void parse_value(const std::string& card, std::size_t column);
    std::size_t parse_string(const std::string& card, std::size_t pos);
    std::size_t parse_complex(const std::string& card, std::size_t pos);
    void parse_comment(const std::string& card, std::size_t pos);
};

// Reads one number of `card` from `pos`, moving `pos` past it. Returns
// DT_INT or DT_INT64 for an integer within 32 or 64 bits (its exact value in
// `int_value`), or DT_DOUBLE (the nearest double in `double_value`) for a
// floating number or an integer beyond 64 bits; D and d are exponent letters
// like E and e. Never throws.
std::int32_t parse_number(const std::string& card, std::size_t& pos,
                          std::int64_t& int_value, double& double_value);

// ---------------------------------------------------------------------------
// HDU objects
// ---------------------------------------------------------------------------

// The kind-specific part of an HDU: its header rules and its data. The
// reader picks the kind from the HDU's first card (hdu_kinds), makes the
// entry and its object, and calls read_header once, which does, in order:
// check the first card; read the mandatory keywords, each at its place
// (file_reader::read_mandatory); read every further card to END; check
// what is looked up by name after END (column keywords, THEAP, ...); then
// load or pass over the data and end at the next block.
class hdu_data {
public:
    virtual ~hdu_data();
    // Checks and collects the header after `first_card`, then reads the data,
    // leaving `file` at the start of the next HDU.
    virtual void read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) = 0;
    // 0 for a primary HDU, 1 for a BINTABLE, 2 for an IMAGE extension, 3 for
    // an ASCII TABLE, 4 for another conforming extension.
    virtual std::int32_t kind_code() const = 0;
};

// What a kind of HDU is, one row per HT_* code in hdu_kinds.
struct hdu_kind {
    std::int32_t code;      // HT_*
    const char* xtension;   // the XTENSION value that announces it; "" for the primary HDU and other extensions
    const char* title;      // the listing's title line: "Primary", "Image", "Table", "BinTable", "Extension"
    std::shared_ptr<hdu_data> (*make)();              // a fresh HDU object of the kind
    std::uint64_t (*data_size)(const hdu_data& hdu);  // bytes of its data as read (a table's heap aside)
};

// Every kind, indexed by its HT_* code.
extern const hdu_kind hdu_kinds[hdu_kind_count];

// What primary and IMAGE HDUs share: an N-dimensional data array.
class hdu_simple_parent : public hdu_data {
public:
    ~hdu_simple_parent() override;
    // The common reader of primary and IMAGE headers and their data.
    void read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) override;
    // Checks the first card and appends its record.
    virtual void check_first_card(hdu_entry& entry, const std::string& first_card) = 0;
    // Reads and checks the kind-specific cards after the axis lengths.
    virtual void read_extra_keywords(fits_file& file, hdu_entry& entry) = 0;

    // Element data type of the array (DT_*), from BITPIX.
    std::int32_t get_data_type() const { return data_type_; }
    // Axis lengths NAXIS1 ... NAXISn, as written.
    const std::vector<std::int32_t>& get_dims() const { return dims_; }
    // Start of the loaded data array, or null when none was loaded.
    const char* get_data() const { return data_.empty() ? nullptr : data_.data(); }
    // Size of the data array in bytes (random groups included); saturates at
    // the largest 64-bit value when the header's size does not fit.
    std::uint64_t data_size() const;

    std::int32_t data_type_ = DT_UNKNOWN;   // element type (DT_*), from BITPIX
    std::vector<std::int32_t> dims_;        // axis lengths NAXIS1 ... NAXISn
    std::vector<char> data_;                // the data array as stored in the file
    bool groups_ = false;                   // primary in random-groups form
    std::int32_t group_pcount_ = 0;         // parameters per group (PCOUNT)
    std::int32_t group_gcount_ = 1;         // number of groups (GCOUNT)

private:
    void read_groups_keywords(const hdu_entry& entry);
};

// The primary HDU.
class hdu_primary : public hdu_simple_parent {
public:
    std::int32_t kind_code() const override { return 0; }
    // Requires SIMPLE = T.
    void check_first_card(hdu_entry& entry, const std::string& first_card) override;
    // A primary HDU has no further mandatory keywords.
    void read_extra_keywords(fits_file& file, hdu_entry& entry) override;
};

// An IMAGE extension.
class hdu_image : public hdu_simple_parent {
public:
    std::int32_t kind_code() const override { return 2; }
    // Requires XTENSION = 'IMAGE'.
    void check_first_card(hdu_entry& entry, const std::string& first_card) override;
    // Requires PCOUNT = 0 and GCOUNT = 1.
    void read_extra_keywords(fits_file& file, hdu_entry& entry) override;
};

// Maps BITPIX onto the element data type; throws "Primary HDU: bad BITPIX".
std::int32_t bitpix_to_dt(std::int32_t bitpix);

// A conforming extension of a type this library does not interpret
// (XTENSION = 'HDRLET', 'A3DTABLE', ...): its array keywords are checked
// and its data, |BITPIX|/8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn)
// bytes, loaded or passed over whole.
class hdu_extension : public hdu_data {
public:
    ~hdu_extension() override;
    // Checks XTENSION, BITPIX, NAXIS, NAXISn, PCOUNT, GCOUNT; reads the data.
    void read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) override;
    std::int32_t kind_code() const override { return 4; }

    // Size of the data in bytes; saturates at the largest 64-bit value.
    std::uint64_t data_size() const;

    std::int32_t data_type_ = DT_UNKNOWN;   // element type (DT_*), from BITPIX
    std::vector<std::int32_t> dims_;        // axis lengths NAXIS1 ... NAXISn
    std::int32_t pcount_ = 0;               // PCOUNT
    std::int32_t gcount_ = 1;               // GCOUNT
    std::vector<char> data_;                // the data as stored in the file, when loaded
};

// ---------------------------------------------------------------------------
// Binary tables
// ---------------------------------------------------------------------------

// The description of one BINTABLE column.
struct bintable_column {
    std::int32_t col_index_ = 0;     // 0-based column number
    std::string ttype_;              // TTYPEn: the column's name
    std::int32_t ct_ = CT_NONE;      // column type; for P/Q the element type
    std::int32_t pq_ = 0;            // 0: plain column; 1: P descriptor; 2: Q descriptor
    std::int32_t repeat_ = 0;        // repeat count of TFORMn
    std::int32_t max_count_ = 0;     // emax of a P/Q form, else the repeat count
    std::int32_t width_ = 0;         // bytes the column takes in one row
    std::int32_t offset_ = 0;        // byte offset of the column within a row
    std::string tunit_;              // TUNITn
    double tscal_ = 1.0;             // TSCALn
    double tzero_ = 0.0;             // TZEROn
    std::int32_t tnull_ = 0;         // TNULLn
    std::string tdisp_;              // TDISPn
    std::vector<std::int32_t> tdim_; // TDIMn dimensions, as written
};

// Column type of a TFORM letter; throws "Unknown form type in BINTABLE".
std::int32_t column_type_from_letter(char letter);
// Fills a fresh column from a TFORMn value.
void parse_tform(const std::string& tform, bintable_column& column);
// Appends the dimensions of a TDIMn value to the column.
void parse_tdim(const std::string& tdim, bintable_column& column);

// A reference to one row of a binary table.
struct bintable_row {
    std::int32_t row_ = 0;                  // 0-based row index
    const hdu_bintable* table_ = nullptr;   // the table holding the row (not owned)
};

// The rows of a binary table, produced on demand: constant memory whatever NAXIS2.
class bintable_row_list {
public:
    // Walks the rows in order.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = bintable_row;
        using difference_type = std::ptrdiff_t;
        using pointer = const bintable_row*;
        using reference = bintable_row;

        const_iterator() = default;
        const_iterator(std::int32_t row, const hdu_bintable* table) : row_(row), table_(table) {}
        bintable_row operator*() const { return bintable_row{row_, table_}; }
        const_iterator& operator++() { ++row_; return *this; }
        const_iterator operator++(int) { const_iterator old = *this; ++row_; return old; }
        bool operator==(const const_iterator& other) const { return row_ == other.row_; }
        bool operator!=(const const_iterator& other) const { return row_ != other.row_; }

    private:
        std::int32_t row_ = 0;
        const hdu_bintable* table_ = nullptr;
    };

    // An empty list.
    bintable_row_list() = default;
    // The rows 0 ... count - 1 of `table`.
    bintable_row_list(std::int32_t count, const hdu_bintable* table) : count_(count), table_(table) {}

    // Number of rows.
    std::size_t size() const { return static_cast<std::size_t>(count_); }
    // True when the table has no rows.
    bool empty() const { return count_ == 0; }
    // The reference to row `i`.
    bintable_row operator[](std::size_t i) const;
    // First row.
    const_iterator begin() const { return const_iterator(0, table_); }
    // Past the last row.
    const_iterator end() const { return const_iterator(count_, table_); }

private:
    std::int32_t count_ = 0;
    const hdu_bintable* table_ = nullptr;
};

// A BINTABLE extension: its columns, main table and heap.
class hdu_bintable : public hdu_data {
public:
    ~hdu_bintable() override;
    // Checks the BINTABLE header, describes the columns, reads table and heap.
    void read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) override;
    std::int32_t kind_code() const override { return 1; }

    // Size of the main table in bytes (NAXIS1 x NAXIS2).
    std::uint64_t table_size() const;

    std::int32_t naxis1_ = 0;                 // bytes per row
    std::int32_t naxis2_ = 0;                 // number of rows
    std::int32_t pcount_ = 0;                 // bytes after the main table (gap and heap)
    std::vector<bintable_column> columns_;    // one description per column
    bintable_row_list rows_;                  // one reference per row
    std::vector<char> data_;                  // the main table
    std::vector<char> heap_;                  // the heap

private:
    void read_columns(const hdu_entry& entry, std::int32_t tfields);
    void read_heap(fits_file& file, const hdu_entry& entry);
};

// ---------------------------------------------------------------------------
// ASCII tables
// ---------------------------------------------------------------------------

// The description of one ASCII TABLE column.
struct table_column {
    std::int32_t col_index_ = 0;     // 0-based column number
    std::int32_t tbcol_ = 0;         // TBCOLn: first byte of the field in a row, from 1
    char letter_ = 0;                // TFORMn type: 'A', 'I', 'F', 'E' or 'D'
    std::int32_t width_ = 0;         // TFORMn width w: bytes of the field
    std::int32_t decimals_ = 0;      // TFORMn decimals d (F, E, D), else 0
    std::string ttype_;              // TTYPEn
    std::string tunit_;              // TUNITn
    double tscal_ = 1.0;             // TSCALn
    double tzero_ = 0.0;             // TZEROn
    std::string tnull_;              // TNULLn: the field's text for a null value
    std::string tdisp_;              // TDISPn
};

// Fills a column's letter_, width_ and decimals_ from a TFORMn value (Aw,
// Iw, Fw.d, Ew.d, Dw.d); throws "Bad form in TABLE".
void parse_table_tform(const std::string& tform, table_column& column);

// An ASCII TABLE extension: its columns and its rows of text.
class hdu_table : public hdu_data {
public:
    ~hdu_table() override;
    // Checks the TABLE header, describes the columns, reads the table.
    void read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) override;
    std::int32_t kind_code() const override { return 3; }

    // Size of the table in bytes (NAXIS1 x NAXIS2).
    std::uint64_t table_size() const;

    std::int32_t naxis1_ = 0;               // bytes per row
    std::int32_t naxis2_ = 0;               // number of rows
    std::vector<table_column> columns_;     // one description per column
    std::vector<char> data_;                // the table, when loaded

private:
    void read_columns(const hdu_entry& entry, std::int32_t tfields);
};

// ---------------------------------------------------------------------------
// HDU entries
// ---------------------------------------------------------------------------

// One header-and-data unit: its records in card order, an index of the
// valued keywords by name (the first of a name wins), and its HDU object.
class hdu_entry {
public:
    // Position of a record in krs_.
    using position = std::vector<keyword_record>::const_iterator;

    // An empty entry of kind `hdu_type` (HT_*) with a fresh HDU object.
    explicit hdu_entry(std::int32_t hdu_type);

    // The HDU object, shared with this entry.
    std::shared_ptr<hdu_data> get_hdu() const { return hdu_; }
    // Kind of the HDU (HT_*).
    std::int32_t get_hdu_type() const { return hdu_type_; }
    // Indexes a valued record by name and appends it.
    void add_record(const keyword_record& kr);
    // Appends a record, moving it into place.
    void add_record(keyword_record&& kr);
    // Position of the valued keyword `name`, or krs_.end() when absent.
    position find_record(const std::string& name) const;
    // Sets `value` to the string value of the valued record at `pos`
    // (non-null), continued as long as it ends in '&' and the next card is a
    // CONTINUE card with a string: the '&' dropped, that string appended.
    void long_string(position pos, std::string& value) const;

    std::vector<keyword_record> krs_;           // every record in card order
    std::int32_t hdu_type_;                     // kind of the HDU (HT_*)
    std::shared_ptr<hdu_data> hdu_;             // the HDU object
    std::map<std::string, std::int32_t> krs_map_;  // valued keyword name -> position in krs_

private:
    void index_record(const keyword_record& kr);
};

// Parses `card` into `kr` and requires the valued keyword `name` with a value
// of type `dt`; does not append the record.
void expect_keyword(const hdu_entry& entry, const std::string& card, const std::string& name,
                    std::int32_t dt, keyword_record& kr);

// Position of the valued keyword `name` of type `dt`, or krs_.end() when it
// is absent and not `required`.
hdu_entry::position find_keyword(const hdu_entry& entry, const std::string& name, std::int32_t dt,
                                 bool required);

// ---------------------------------------------------------------------------
// The file reader
// ---------------------------------------------------------------------------

// FITS bytes held in memory: `size` bytes from `data`, which must stay valid
// while a fits_file is constructed from them, and only then.
struct memory_input {
    const void* data;   // the first byte
    std::size_t size;   // how many bytes
};

class file_reader;

// A FITS file, read whole at construction: every HDU in hdus_. The bytes
// come from a path, memory or any std::istream, with the same result for the
// same bytes. A regular file and memory are sized: no size a header claims
// is allocated before the input is known to hold it, and data that is not
// loaded is passed over without reading it. A pipe, FIFO, device or istream
// is read strictly front to back, never seeked: its bytes are proved as they
// arrive, and data passed over is read and dropped in bounded chunks.
//
//   velmora::fits_file file(velmora::memory_input{bytes.data(), bytes.size()},
//                           velmora::RM_HEADERS_ONLY);
//   for (const velmora::hdu_entry& hdu : file.hdus_)
//       for (const velmora::keyword_record& kr : hdu.krs_)
//           if (kr.get_type() == velmora::KWRT_VALUE) std::cout << kr.get_name() << '\n';
class fits_file {
public:
    // Receives each HDU as soon as it has been read and checked.
    using hdu_callback = std::function<void(const hdu_entry&)>;

    // Opens `path`, reads every HDU and closes the file. On Windows the path
    // is UTF-8 (a std::filesystem::path p gives it as p.u8string()); elsewhere
    // its bytes are the file's name as they stand.
    explicit fits_file(const std::string& path, read_mode mode = RM_LOAD_DATA);
    // As above, handing every HDU to `on_hdu` once it has been read; with
    // KM_RELEASE_HDUS each HDU is released after the call instead of kept,
    // its records and index then serving the next headers: a callback may
    // keep the HDU object (get_hdu()), but no reference to the entry, its
    // records or positions past its return.
    fits_file(const std::string& path, read_mode mode, const hdu_callback& on_hdu, keep_mode keep = KM_KEEP_HDUS);
    // Reads every HDU of the bytes in memory; nothing is copied but what the
    // records and loaded data keep.
    explicit fits_file(memory_input bytes, read_mode mode = RM_LOAD_DATA);
    // As above, with a callback and keep mode as for a path.
    fits_file(memory_input bytes, read_mode mode, const hdu_callback& on_hdu, keep_mode keep = KM_KEEP_HDUS);
    // Reads every HDU from `in`, front to back, up to its end; a read that
    // fails (badbit) is read_error "cannot read file: <reason>".
    explicit fits_file(std::istream& in, read_mode mode = RM_LOAD_DATA);
    // As above, with a callback and keep mode as for a path.
    fits_file(std::istream& in, read_mode mode, const hdu_callback& on_hdu, keep_mode keep = KM_KEEP_HDUS);
    ~fits_file();
    fits_file(const fits_file&) = delete;
    fits_file& operator=(const fits_file&) = delete;

    // The block operations the HDU readers use while the file is read:
    // replaces `card` with the next 80 bytes of the current header.
    void read_card(std::string& card);
    // Copies the next `n` data bytes to `dest`.
    void read_bytes(char* dest, std::uint64_t n);
    // Passes over the next `n` data bytes and loads the block where the skip
    // ends (the input must hold that block whole).
    void skip_bytes(std::uint64_t n);
    // Drops the rest of the current block.
    void end_block();

    std::vector<hdu_entry> hdus_;   // the HDUs in file order

private:
    friend class file_reader;
    std::unique_ptr<file_reader> reader_;   // the reading and the storage it keeps (the library's own)
};

}  // namespace velmora

#endif  // VELMORA_FITS_H
