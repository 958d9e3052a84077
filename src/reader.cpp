// velmora::fits - the file reader: HDUs found block by block, cards read
// into records, data loaded or passed over, and errors placed in the input.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace velmora {

namespace {

// What a stream's data buffers grow by at least.
constexpr std::size_t stream_step = std::size_t{1} << 16;
// How far ahead cards_to_end looks for an END card (364 blocks).
constexpr std::size_t end_look_ahead = std::size_t{1} << 20;
// How far a sized input is counted on for END, and in what chunks.
constexpr std::size_t end_count_ahead = std::size_t{1} << 26;
constexpr std::size_t count_chunk = 64 * block_size;

// True when the card at `card` is an END card: the name END, then a blank.
bool is_end_card(const char* card) { return card[0] == 'E' && card[1] == 'N' && card[2] == 'D' && card[3] == ' '; }

}  // namespace

// ---------------------------------------------------------------------------
// The file
// ---------------------------------------------------------------------------

fits_file::fits_file(const std::string& path, read_mode mode) : fits_file(path, mode, hdu_callback()) {}

fits_file::fits_file(const std::string& path, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : reader_(std::make_unique<file_reader>(byte_source::open(path), mode)) {
    reader_->read_hdus(*this, on_hdu, keep);
}

fits_file::fits_file(memory_input bytes, read_mode mode) : fits_file(bytes, mode, hdu_callback()) {}

fits_file::fits_file(memory_input bytes, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : reader_(std::make_unique<file_reader>(byte_source::in_memory(bytes), mode)) {
    reader_->read_hdus(*this, on_hdu, keep);
}

fits_file::fits_file(std::istream& in, read_mode mode) : fits_file(in, mode, hdu_callback()) {}

fits_file::fits_file(std::istream& in, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : reader_(std::make_unique<file_reader>(byte_source::from_stream(in), mode)) {
    reader_->read_hdus(*this, on_hdu, keep);
}

fits_file::~fits_file() = default;

void fits_file::read_card(std::string& card) { reader_->read_card(card); }
void fits_file::read_bytes(char* dest, std::uint64_t n) { reader_->read_bytes(dest, n); }
void fits_file::skip_bytes(std::uint64_t n) { reader_->skip_bytes(n); }
void fits_file::end_block() { reader_->end_block(); }

// ---------------------------------------------------------------------------
// HDUs and their cards
// ---------------------------------------------------------------------------

file_reader::file_reader(std::unique_ptr<byte_source> source, read_mode mode)
    : mode_(mode), source_(std::move(source)) {}

file_reader::~file_reader() = default;

void file_reader::read_hdus(fits_file& file, const fits_file::hdu_callback& on_hdu, keep_mode keep) {
    std::vector<hdu_entry>& hdus = file.hdus_;
    for (;;) {
        std::string card;
        try {
            if (!next_hdu_block()) break;
            read_card(card);
            std::int32_t kind = kind_from_first_card(card);
            hdus.emplace_back(kind);
            hdu_entry& entry = hdus.back();
            entry.get_hdu()->read_header(file, entry, card);
        } catch (located_error& e) {
            if (!error_access::placed(e)) place_error(e);
            throw;
        }
        hdu_entry& entry = hdus.back();
        ++hdus_read_;
        if (on_hdu) on_hdu(entry);
        if (keep == KM_RELEASE_HDUS) {
            spare_.release(entry);
            hdus.pop_back();
        }
    }
    // The input is let go; block operations asked of the file from now on
    // find an input that has ended.
    source_ = byte_source::in_memory(memory_input{nullptr, 0});
    // The entries kept have moved as the list grew: each record names the
    // entry that holds it now.
    for (hdu_entry& entry : hdus)
        for (keyword_record& kr : entry.krs_) kr.owner_ = &entry;
}

// An error of the HDU being read is placed by the rule in errors.cpp.
void file_reader::place_error(located_error& e) const {
    place_in_hdu(e, hdus_read_ + 1, cards_read_, hdu_start_, block_pos_ >= card_size ? block_ + block_pos_ - card_size : nullptr);
}

// Loads the block where the next HDU's first card is due; false when fewer
// than a block's bytes are left after an HDU, which ends the file (they are
// ignored). A sized input is taken at its measured length.
bool file_reader::next_hdu_block() {
    hdu_start_ = source_->position();
    cards_read_ = 0;
    if (source_->sized() && source_->left() < block_size) {
        if (hdus_read_ == 0) first_block_not_held();
        return false;
    }
    if (!load_block()) {
        if (hdus_read_ == 0) first_block_not_held();
        if (source_->sized()) header_not_held();
        return false;
    }
    return true;
}

// The input ends before the first HDU's first block is whole: it holds no
// HDU, so it is no FITS file (an empty file, a short text).
void file_reader::first_block_not_held() const { input_ends_before_first_block(source_->end_offset()); }

std::int32_t file_reader::kind_from_first_card(const std::string& first_card) const {
    if (first_card.compare(0, 7, "SIMPLE ") == 0) {
        if (hdus_read_ != 0) fail("Primary HDU not first");
        return HT_PRIMARY;
    }
    if (first_card.compare(0, 10, "XTENSION= ") == 0) {
        if (hdus_read_ == 0) fail("Extension without primary HDU");
        const std::string type = extension_type(first_card);
        if (type.empty()) fail("Unknown extension");
        for (const hdu_kind& kind : hdu_kinds)
            if (type == kind.xtension) return kind.code;
        return HT_EXTENSION;
    }
    fail("Unexpected keyword or bad format");
}

// The XTENSION value of an extension's first card when it is a string in
// the fixed format (the opening quote in column 11, the closing one in
// column 20 or later), doubled quotes undone and trailing blanks dropped;
// "" otherwise.
std::string file_reader::extension_type(const std::string& first_card) {
    if (first_card[10] != '\'') return "";
    std::string value;
    for (std::size_t i = 11; i < card_size; ++i) {
        if (first_card[i] != '\'') {
            value += first_card[i];
        } else if (i + 1 < card_size && first_card[i + 1] == '\'') {
            value += '\'';
            ++i;
        } else {
            if (i < 19) return "";
            value.erase(value.find_last_not_of(' ') + 1);
            return value;
        }
    }
    return "";
}

bool file_reader::load_block() {
    if (source_->take(block_, block_size) < block_size) return false;
    block_pos_ = 0;
    return true;
}

std::uint64_t file_reader::reading_position() const { return source_->position() - (block_size - block_pos_); }

// The input ends before the next card of the header.
void file_reader::header_not_held() const { input_ends_in_header(cards_read_ + 1, source_->end_offset()); }

// The input does not hold the data `whole` names.
void file_reader::data_not_held(const extent& whole) const {
    input_ends_in_data(whole.from, whole.n, whole.to, source_->end_offset());
}

void file_reader::read_card(std::string& card) {
    if (block_pos_ >= block_size && !load_block()) header_not_held();
    if (card.size() == card_size)
        std::memcpy(&card[0], block_ + block_pos_, card_size);  // the caller's card, reused
    else
        card.assign(block_ + block_pos_, card_size);
    block_pos_ += card_size;
    ++cards_read_;
}

// ---------------------------------------------------------------------------
// What the HDU readers take from the reader: records
// ---------------------------------------------------------------------------

// Every card read becomes the header's record at the next position: card
// k (from 1) of a header is its record k - 1.

void file_reader::begin_records(hdu_entry& entry) {
    header_cards_ = cards_to_end();
    spare_.lend(entry, 1 + header_cards_);
}

const keyword_record& file_reader::read_mandatory(hdu_entry& entry, const std::string& name) {
    read_card(card_);
    keyword_record& kr = record_at(entry, static_cast<std::size_t>(cards_read_ - 1));
    expect_keyword(entry, card_, name, DT_INT, kr);
    return kr;
}

void file_reader::read_free_cards(hdu_entry& entry) {
    for (bool end = false; !end;) {
        read_card(card_);
        keyword_record& kr = record_at(entry, static_cast<std::size_t>(cards_read_ - 1));
        kr.parse(entry, card_);
        end = kr.type_ == KWRT_END;
    }
    spare_.end_header(entry, static_cast<std::size_t>(cards_read_));
    spare_.index(entry);
}

std::size_t file_reader::cards_to_end() {
    std::size_t cards = 0;
    for (std::uint32_t pos = block_pos_; pos + card_size <= block_size; pos += card_size) {
        ++cards;
        if (is_end_card(block_ + pos)) return cards;
    }
    // The blocks after the current one, looked at ahead (past END too: the
    // reads that follow take them).
    std::size_t offset = 0;
    for (; offset < end_look_ahead; offset += block_size) {
        const char* block = source_->look_ahead(offset, block_size);
        if (!block) return cards;
        for (std::size_t pos = 0; pos < block_size; pos += card_size) {
            ++cards;
            if (is_end_card(block + pos)) return cards;
        }
    }
    // A longer header of a sized input is counted on, peeked at in chunks
    // that are not kept, so that its records are made room for at once
    // rather than moved as they grow; only as far as a bounded span, and
    // only when END is found there.
    if (!source_->sized()) return cards;
    std::unique_ptr<char[]> chunk(new char[count_chunk]);
    std::size_t counted = cards;
    for (; offset < end_count_ahead; offset += count_chunk) {
        const std::size_t got = source_->peek(offset, chunk.get(), count_chunk, true) / card_size * card_size;
        for (std::size_t pos = 0; pos < got; pos += card_size) {
            ++counted;
            if (is_end_card(chunk.get() + pos)) return counted;
        }
        if (got < count_chunk) break;
    }
    return cards;
}

// Bytes past the end of the current block that the next `n` data bytes
// reach into, block-rounded.
std::uint64_t file_reader::beyond_block(std::uint64_t n) const {
    std::uint64_t left = block_size - block_pos_;
    return n <= left ? 0 : round_up_to_block(n - left);
}

// Where the next `n` data bytes end, with the rest of their last block.
std::uint64_t file_reader::data_end(std::uint64_t n) const {
    return saturating_add(source_->position(), beyond_block(n));
}

// The next `n` data bytes, as a failure to hold them names them.
file_reader::extent file_reader::data_extent(std::uint64_t n) const { return {reading_position(), n, data_end(n)}; }

// A sized input must hold the data before anything is read or allocated;
// a stream proves it by delivering the bytes.
void file_reader::require_data(std::uint64_t n) const {
    if (source_->sized() && beyond_block(n) > source_->left()) data_not_held(data_extent(n));
}

void file_reader::read_bytes(char* dest, std::uint64_t n) {
    // Nothing to copy; `dest` may be the null start of an empty buffer.
    if (n == 0) return;
    require_data(n);
    read_data(dest, n, data_extent(n));
}

// Copies the next `n` data bytes to `dest`, part of the data `whole`, which
// a failure names.
void file_reader::read_data(char* dest, std::uint64_t n, const extent& whole) {
    if (block_pos_ < block_size) {
        std::uint64_t left = block_size - block_pos_;
        if (n <= left) {
            std::memcpy(dest, block_ + block_pos_, n);
            block_pos_ += static_cast<std::uint32_t>(n);
            return;
        }
        std::memcpy(dest, block_ + block_pos_, left);
        dest += left;
        n -= left;
        block_pos_ = block_size;
    }
    const std::uint64_t blocks = n / block_size * block_size;
    if (blocks != 0 && source_->take(dest, static_cast<std::size_t>(blocks)) < blocks) data_not_held(whole);
    std::uint64_t rest = n % block_size;
    if (rest == 0) return;
    if (!load_block()) data_not_held(whole);
    std::memcpy(dest + blocks, block_, rest);
    block_pos_ = static_cast<std::uint32_t>(rest);
}

void file_reader::skip_bytes(std::uint64_t n) {
    std::uint64_t left = block_size - block_pos_;
    if (n <= left) {
        block_pos_ += static_cast<std::uint32_t>(n);
        return;
    }
    std::uint64_t beyond = n - left;
    std::uint64_t whole = beyond / block_size * block_size;
    // The skip ends inside the block after the whole ones, which must be there.
    const extent skipped{reading_position(), n, saturating_add(source_->position(), whole + block_size)};
    if (source_->sized() && whole + block_size > source_->left()) data_not_held(skipped);
    block_pos_ = block_size;
    if (whole != 0 && source_->pass(whole) < whole) data_not_held(skipped);
    if (!load_block()) data_not_held(skipped);
    block_pos_ = static_cast<std::uint32_t>(beyond % block_size);
}

void file_reader::end_block() { block_pos_ = block_size; }

void file_reader::load_data(std::vector<char>& buffer, std::uint64_t n) {
    require_data(n);
    if (mode_ == RM_HEADERS_ONLY) {
        pass_bytes(n);
        return;
    }
    if (n > buffer.max_size()) {
        // A sized input was proved to hold the data above; a stream proves it
        // by passing over it, so that the same bytes get the same verdict.
        const std::uint64_t from = reading_position();
        if (!source_->sized()) pass_bytes(n);
        data_too_large(from, n, buffer.max_size());
    }
    // A sized input's buffer is allocated whole: the input holds the bytes.
    // A stream's grows with what has arrived, so that a size the header only
    // claims is never allocated; where it ends, the whole is named.
    const extent whole = data_extent(n);
    buffer.clear();
    while (buffer.size() < n) {
        std::uint64_t have = buffer.size();
        std::uint64_t step = source_->sized() ? n : std::max<std::uint64_t>(have, stream_step);
        step = std::min(step, n - have);
        buffer.resize(static_cast<std::size_t>(have + step));
        read_data(buffer.data() + have, step, whole);
    }
}

void file_reader::pass_bytes(std::uint64_t n) {
    require_data(n);
    std::uint64_t left = block_size - block_pos_;
    if (n <= left) {
        block_pos_ += static_cast<std::uint32_t>(n);
        return;
    }
    const extent passed = data_extent(n);
    n -= left;
    block_pos_ = block_size;
    std::uint64_t whole = n / block_size * block_size;
    if (whole != 0 && source_->pass(whole) < whole) data_not_held(passed);
    std::uint64_t rest = n % block_size;
    if (rest == 0) return;
    if (!load_block()) data_not_held(passed);
    block_pos_ = static_cast<std::uint32_t>(rest);
}

// The block after the nearer end is looked at whole, since it may start the
// next HDU; in the headers-only mode the data before it is only passed over.
// Where the input ends before the farther end, a stream keeps that block and
// no more: the reading resumes there, and as the block does not start an
// extension, its first card ends the reading whatever follows.
bool file_reader::data_ends_nearer(std::uint64_t nearer, std::uint64_t farther) {
    const bool keep = mode_ == RM_LOAD_DATA;
    char next[block_size];
    if (source_->peek(beyond_block(nearer), next, block_size, keep) == block_size &&
        std::memcmp(next, "XTENSION= ", 10) == 0)
        return true;
    return !source_->holds(beyond_block(farther), keep);
}

}  // namespace velmora
