// The file reader: block framing of cards and data, where each HDU begins,
// what ends the file, and how a short or missing file is reported.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include "internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <ios>
#include <map>
#include <memory>
#include <istream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <utility>
#include <string>
#include <vector>

namespace {

using velmora::fits_file;

using fitsb::pattern;

// What reading a whole file gave: the kinds of its HDUs, or the error.
// No error, so no offset.
constexpr std::uint64_t none = static_cast<std::uint64_t>(-1);

struct outcome {
    std::vector<std::int32_t> kinds;
    std::string error;
    bool stream_failure = false;  // the error is a std::ios_base::failure
    std::uint64_t offset = none;  // the input offset the error names
};

// What the fits_file that `make` constructs reads.
template <typename Make>
outcome read_outcome(Make make) {
    outcome o;
    try {
        std::unique_ptr<fits_file> file = make();
        for (const velmora::hdu_entry& e : file->hdus_) o.kinds.push_back(e.get_hdu_type());
    } catch (const std::ios_base::failure& e) {
        o.error = fitsb::located_text(e);
        o.stream_failure = true;
        if (const velmora::error_location* at = velmora::location_of(e)) o.offset = at->offset;
    } catch (const std::exception& e) {
        o.error = fitsb::located_text(e);
        if (const velmora::error_location* at = velmora::location_of(e)) o.offset = at->offset;
    }
    return o;
}

outcome read_path(const std::string& path, velmora::read_mode mode) {
    return read_outcome([&] { return std::make_unique<fits_file>(path, mode); });
}

// Reads the path with data loaded and with headers only; framing and
// messages must not depend on the mode.
outcome read_both(const std::string& path) {
    outcome load = read_path(path, velmora::RM_LOAD_DATA);
    outcome headers = read_path(path, velmora::RM_HEADERS_ONLY);
    EXPECT_EQ(load.kinds, headers.kinds);
    EXPECT_EQ(load.error, headers.error);
    EXPECT_EQ(load.stream_failure, headers.stream_failure);
    return load;
}

// Reads the bytes from a file, then from a pipe, memory and an istream, in
// both modes; every reading must give what the file gave.
outcome read_bytes_both(const std::string& bytes) {
    fitsb::temp_file f(bytes);
    outcome file = read_both(f.path());
    for (fitsb::source from : fitsb::every_source) {
        for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
            outcome o = read_outcome([&] { return fitsb::read_from(from, bytes, mode); });
            EXPECT_EQ(o.kinds, file.kinds) << fitsb::source_name(from) << ", mode " << mode;
            EXPECT_EQ(o.error, file.error) << fitsb::source_name(from) << ", mode " << mode;
            EXPECT_EQ(o.offset, file.offset) << fitsb::source_name(from) << ", mode " << mode;
            EXPECT_EQ(o.stream_failure, file.stream_failure) << fitsb::source_name(from) << ", mode " << mode;
        }
    }
    return file;
}

const std::string primary = fitsb::primary(8, {}).end().bytes();

// The reader behind a fits_file, put at the start of the file at `path`, or
// of `bytes` in memory when given, without reading it: its block operations
// are driven by hand.
struct driven_file : velmora::file_reader {
    explicit driven_file(const std::string& path, const std::string* bytes = nullptr)
        : file_reader(bytes ? velmora::byte_source::in_memory(velmora::memory_input{bytes->data(), bytes->size()})
                            : velmora::byte_source::open(path),
                      velmora::RM_LOAD_DATA) {}
};

// ---------------------------------------------------------------------------
// The buffer operations, driven by hand on a file of four blocks.
// ---------------------------------------------------------------------------

TEST(ReaderBuffer, ReadAndSkipLeaveTheExpectedPosition) {
    struct move_case {
        const char* name;
        std::uint64_t before;  // bytes read first (0: none, block_pos_ stays 2880)
        bool skip;             // skip_bytes instead of read_bytes
        std::uint64_t n;
        std::uint32_t pos;     // block_pos_ afterwards
        std::uint64_t next;    // file offset of the next byte read
    };
    const move_case cases[] = {
        {"read nothing", 0, false, 0, 2880, 0},
        {"read two whole blocks", 0, false, 5760, 2880, 5760},
        {"read one block and 120 bytes", 0, false, 3000, 120, 3000},
        {"read inside the current block", 100, false, 200, 300, 300},
        {"read exactly the rest of the block", 100, false, 2780, 2880, 2880},
        {"read the rest, a block and more", 100, false, 5000, 2220, 5100},
        {"skip nothing", 0, true, 0, 2880, 0},
        {"skip inside the current block", 100, true, 200, 300, 300},
        {"skip exactly the rest of the block", 100, true, 2780, 2880, 2880},
        {"skip past the current block", 100, true, 3000, 220, 3100},
        {"skip two blocks and 240 bytes", 0, true, 6000, 240, 6000},
    };
    const std::string contents = pattern(4 * fitsb::block);
    fitsb::temp_file f(contents);
    for (const move_case& c : cases) {
        for (const std::string* in_memory : {static_cast<const std::string*>(nullptr), &contents}) {
            SCOPED_TRACE(std::string(c.name) + (in_memory ? ", in memory" : ""));
            driven_file file(f.path(), in_memory);
            ASSERT_EQ(file.block_pos_, 2880u);
            std::vector<char> buffer(c.before + c.n + 1);
            if (c.before != 0) file.read_bytes(buffer.data(), c.before);
            if (c.skip)
                file.skip_bytes(c.n);
            else
                file.read_bytes(buffer.data() + c.before, c.n);
            EXPECT_EQ(file.block_pos_, c.pos);
            if (!c.skip) {
                EXPECT_EQ(std::string(buffer.data(), c.before + c.n), contents.substr(0, c.before + c.n));
            }
            char next = 0;
            file.read_bytes(&next, 1);
            EXPECT_EQ(next, contents[c.next]);
        }
    }
}

TEST(ReaderBuffer, CardsComeFromTheCurrentBlockUntilItIsDropped) {
    const std::string contents = pattern(2 * fitsb::block);
    fitsb::temp_file f(contents);
    driven_file file(f.path());
    std::string card = "stale";
    file.read_card(card);
    EXPECT_EQ(card, contents.substr(0, 80));
    file.read_card(card);
    EXPECT_EQ(card, contents.substr(80, 80));
    EXPECT_EQ(file.block_pos_, 160u);
    file.end_block();
    EXPECT_EQ(file.block_pos_, 2880u);
    file.read_card(card);
    EXPECT_EQ(card, contents.substr(2880, 80));
    EXPECT_EQ(file.block_pos_, 80u);
}

TEST(ReaderBuffer, ReadingPastTheEndIsAReadError) {
    const std::string contents = pattern(2 * fitsb::block);
    fitsb::temp_file f(contents);
    auto message = [&](auto operation) -> std::string {
        std::string messages[2];
        for (int in_memory = 0; in_memory < 2; ++in_memory) {
            driven_file file(f.path(), in_memory ? &contents : nullptr);
            try {
                operation(file);
                messages[in_memory] = "no error";
            } catch (const velmora::read_error& e) {
                messages[in_memory] = e.what();
            }
        }
        EXPECT_EQ(messages[1], messages[0]) << "in memory";
        return messages[0];
    };
    std::vector<char> buffer(3 * fitsb::block);
    EXPECT_EQ(message([](driven_file& file) {
                  std::string card;
                  for (int i = 0; i < 72; ++i) file.read_card(card);
                  file.read_card(card);
              }),
              "file ends inside a header");
    EXPECT_EQ(message([&](driven_file& file) { file.read_bytes(buffer.data(), 5761); }), "file ends inside the data");
    EXPECT_EQ(message([&](driven_file& file) {
                  file.read_bytes(buffer.data(), 2000);
                  file.read_bytes(buffer.data(), 3761);
              }),
              "file ends inside the data");
    EXPECT_EQ(message([](driven_file& file) { file.skip_bytes(6000); }), "file ends inside the data");
}

// ---------------------------------------------------------------------------
// Where HDUs begin and what ends the file.
// ---------------------------------------------------------------------------

TEST(ReaderFraming, FirstCardOfEachBlockDecidesTheHdu) {
    const std::string image = fitsb::image(16, {2}).end().data(4).bytes();
    const std::string table = fitsb::bintable(4, 1, 0, {"J"}).end().data(4).bytes();
    const std::string with_data = fitsb::primary(8, {3}).end().data("abc").bytes();
    const std::string ascii = fitsb::ascii_table(8, 2, {{1, "I8"}}).end().data("       1       2").bytes();
    const std::string other = fitsb::extension("HDRLET", 8, {5}, 3, 2).end().data(16).bytes();
    const std::string image_wide = fitsb::hdu()  // the closing quote in column 21: the same value
                                       .value("XTENSION", "'IMAGE    '").integer("BITPIX", 8).integer("NAXIS", 0)
                                       .integer("PCOUNT", 0).integer("GCOUNT", 1).end().bytes();
    struct framing_case {
        const char* name;
        std::string bytes;
        std::vector<std::int32_t> kinds;
        std::string error;
        std::uint64_t offset;  // of the card at fault
    };
    const framing_case cases[] = {
        {"primary only", primary, {velmora::HT_PRIMARY}, "", none},
        {"primary, image and table", primary + image + table,
         {velmora::HT_PRIMARY, velmora::HT_IMAGE, velmora::HT_BINTABLE}, "", none},
        {"every kind by its XTENSION value", primary + image + ascii + table + other + image_wide,
         {velmora::HT_PRIMARY, velmora::HT_IMAGE, velmora::HT_TABLE, velmora::HT_BINTABLE, velmora::HT_EXTENSION,
          velmora::HT_IMAGE}, "", none},
        {"tail under a block ignored", primary + std::string(2879, 'x'), {velmora::HT_PRIMARY}, "", none},
        {"tail after data ignored", with_data + image + std::string(100, '\0'),
         {velmora::HT_PRIMARY, velmora::HT_IMAGE}, "", none},
        {"cut extension header under a block ignored", primary + image.substr(0, 2000), {velmora::HT_PRIMARY}, "", none},
        {"SIMPLE with two blanks before the equals sign", fitsb::hdu().add("SIMPLE  = T").integer("BITPIX", 8)
                                                              .integer("NAXIS", 0).end().bytes(),
         {velmora::HT_PRIMARY}, "", none},
        {"cards after END never read",
         fitsb::primary(8, {}).end().add("BROKEN  = 'no closing quote").bytes() +
             fitsb::image(8, {}).end().add("XTENSION= 'IMAGE'").add("(((").bytes(),
         {velmora::HT_PRIMARY, velmora::HT_IMAGE}, "", none},
        {"zero block after the last HDU", primary + std::string(2880, '\0'), {}, "HDU 2, card 1: Unexpected keyword or bad format", 2880},
        {"blank block after the last HDU", primary + std::string(2880, ' '), {}, "HDU 2, card 1: Unexpected keyword or bad format", 2880},
        {"data block after the last HDU", with_data + pattern(2880), {}, "HDU 2, card 1: Unexpected keyword or bad format", 5760},
        {"two primary headers", primary + primary, {}, "HDU 2, card 1: Primary HDU not first", 2880},
        {"extension first", image, {}, "HDU 1, card 1: Extension without primary HDU", 0},
        {"unknown extension first", fitsb::hdu().string("XTENSION", "TABLE").end().bytes(), {},
         "HDU 1, card 1: Extension without primary HDU", 0},
        {"TABLE extension", primary + fitsb::hdu().string("XTENSION", "TABLE").end().bytes(), {},
         "HDU 2, card 2: Unexpected comment", 2960},
        {"empty extension type", primary + fitsb::hdu().string("XTENSION", "").end().bytes(), {}, "HDU 2, card 1: Unknown extension", 2880},
        {"null extension type", primary + fitsb::hdu().value("XTENSION", "''").end().bytes(), {}, "HDU 2, card 1: Unknown extension", 2880},
        {"extension type not a string", primary + fitsb::hdu().value("XTENSION", "5").end().bytes(), {}, "HDU 2, card 1: Unknown extension", 2880},
        {"IMAGE not blank-filled", primary + fitsb::hdu().value("XTENSION", "'IMAGE'").end().bytes(), {},
         "HDU 2, card 1: Unknown extension", 2880},
        {"no blank after the equals sign", primary + fitsb::hdu().add("XTENSION='IMAGE   '").end().bytes(), {},
         "HDU 2, card 1: Unexpected keyword or bad format", 2880},
        {"equals sign right after SIMPLE", fitsb::hdu().add("SIMPLE= T").end().bytes(), {},
         "HDU 1, card 1: Unexpected keyword or bad format", 0},
        {"lower-case simple", fitsb::hdu().add("simple  = T").end().bytes(), {}, "HDU 1, card 1: Unexpected keyword or bad format", 0},
    };
    for (const framing_case& c : cases) {
        SCOPED_TRACE(c.name);
        outcome o = read_bytes_both(c.bytes);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.offset, c.offset);
        EXPECT_FALSE(o.stream_failure);
        if (c.error.empty()) {
            EXPECT_EQ(o.kinds, c.kinds);
        }
    }
}

TEST(ReaderFraming, FileEndingInsideAHeaderOrDataIsAReadError) {
    auto two_blocks_of = [](fitsb::hdu h) {
        for (int i = 0; i < 40; ++i) h.comment("filler");
        return h.end().bytes();
    };
    const std::string two_blocks = two_blocks_of(fitsb::primary(8, {}));
    fitsb::hdu no_end = fitsb::primary(8, {});
    while (no_end.cards().size() < 36) no_end.comment("no END follows");
    const std::string big_data = fitsb::primary(8, {3000}).end().data(3000).bytes();
    struct truncation_case {
        const char* name;
        std::string bytes;
        std::string error;
        std::uint64_t offset;  // of the card at fault; without one, where the input ends
    };
    const truncation_case cases[] = {
        {"empty input", "", "HDU 1, card 1: file ends inside a header", 0},
        {"one byte", "S", "HDU 1, card 1: file ends inside a header", 0},
        {"one card", primary.substr(0, 80), "HDU 1, card 1: file ends inside a header", 0},
        {"one byte short of a block", primary.substr(0, 2879), "HDU 1, card 1: file ends inside a header", 0},
        {"header cut at a block boundary", two_blocks.substr(0, 2880), "HDU 1, card 37: file ends inside a header", 2880},
        {"header cut inside its second block", two_blocks.substr(0, 3880), "HDU 1, card 37: file ends inside a header", 2880},
        {"header without END", no_end.bytes(), "HDU 1, card 37: file ends inside a header", 2880},
        {"extension header cut", primary + two_blocks_of(fitsb::image(8, {})).substr(0, 2880),
         "HDU 2, card 37: file ends inside a header", 5760},
        {"last data block missing", big_data.substr(0, big_data.size() - 2880), "HDU 1: file ends inside the data", 5760},
        {"data cut inside its block", big_data.substr(0, big_data.size() - 1000), "HDU 1: file ends inside the data", 7640},
        {"only the padding missing", fitsb::primary(8, {3}).end().data("abc").unpadded().bytes(),
         "HDU 1: file ends inside the data", 2883},
        {"extension padding missing", primary + fitsb::image(16, {10}).end().data(20).unpadded().bytes(),
         "HDU 2: file ends inside the data", 5780},
        {"one block claiming a huge image", fitsb::primary(16, {2147483647, 2147483647}).end().bytes(),
         "HDU 1: file ends inside the data", 2880},
        {"size beyond 64 bits", fitsb::primary(-64, {2147483647, 2147483647, 2147483647}).end().bytes(),
         "HDU 1: file ends inside the data", 2880},
        {"size of exactly 2^64, not wrapped to 0", fitsb::primary(8, {65536, 65536, 65536, 65536}).end().bytes(),
         "HDU 1: file ends inside the data", 2880},
    };
    for (const truncation_case& c : cases) {
        SCOPED_TRACE(c.name);
        outcome o = read_bytes_both(c.bytes);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.offset, c.offset);
        EXPECT_TRUE(o.stream_failure);
    }
}

// A stream buffer over `bytes` that delivers the first `good` of them, then
// fails: the device gave a read error, which the istream turns into badbit.
class failing_buffer : public std::streambuf {
public:
    failing_buffer(std::string bytes, std::size_t good) : bytes_(std::move(bytes)), good_(good) {}

protected:
    int_type underflow() override {
        if (eback() == nullptr && good_ != 0) {
            setg(&bytes_[0], &bytes_[0], &bytes_[0] + good_);
            return traits_type::to_int_type(bytes_[0]);
        }
        throw std::runtime_error("the device failed");
    }

private:
    std::string bytes_;
    std::size_t good_;
};

// A read error is never taken for the end of the input: not at an HDU
// boundary, where a clean but cut listing would follow, nor in a header.
TEST(ReaderFraming, ReadErrorIsNeverTheEnd) {
    const std::string two = primary + fitsb::image(8, {}).end().bytes();
    for (std::size_t good : {std::size_t{0}, std::size_t{100}, std::size_t{2880}, std::size_t{3000}}) {
        SCOPED_TRACE(good);
        for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
            failing_buffer buffer(two, good);
            std::istream in(&buffer);
            outcome o = read_outcome([&] { return std::make_unique<fits_file>(in, mode); });
            EXPECT_EQ(o.error, "cannot read file: Input/output error");
            EXPECT_TRUE(o.stream_failure);
        }
    }
}

// A stream buffer over `bytes` that counts the seeks asked of it, and refuses them.
class unseekable_buffer : public std::stringbuf {
public:
    explicit unseekable_buffer(const std::string& bytes) : std::stringbuf(bytes) {}
    int seeks = 0;

protected:
    pos_type seekoff(off_type, std::ios::seekdir, std::ios::openmode) override { return ++seeks, pos_type(-1); }
    pos_type seekpos(pos_type, std::ios::openmode) override { return ++seeks, pos_type(-1); }
};

// A caller's istream is read front to back, never seeked, its exception mask
// restored; one that failed before it was read is an error, one at its end
// an empty input.
TEST(ReaderStreams, CallersStreamIsReadAsItIs) {
    const std::string bytes = primary + fitsb::image(16, {1000}).end().data(2000).bytes() + primary.substr(0, 100);
    for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
        unseekable_buffer buffer(bytes);
        std::istream in(&buffer);
        in.exceptions(std::ios::badbit | std::ios::failbit);
        std::unique_ptr<fits_file> file;
        EXPECT_NO_THROW(file = std::make_unique<fits_file>(in, mode));
        EXPECT_EQ(file ? file->hdus_.size() : 0u, 2u);
        EXPECT_EQ(buffer.seeks, 0);
        EXPECT_EQ(in.exceptions(), std::ios::badbit | std::ios::failbit);
    }
    std::ifstream missing("/nonexistent-dir/missing.fits", std::ios::binary);
    std::istringstream ended("");
    char c = 0;
    ended >> c;  // at its end, eofbit and failbit set
    const std::pair<std::istream*, std::string> cases[] = {
        {&missing, "cannot read file: the stream failed before it was read"},
        {&ended, "HDU 1, card 1: file ends inside a header"},
    };
    for (const auto& [in, error] : cases) {
        outcome o = read_outcome([&] { return std::make_unique<fits_file>(*in); });
        EXPECT_EQ(o.error, error);
        EXPECT_TRUE(o.stream_failure);
    }
}

// Once read, the file has let its input go: its block operations find the
// input ended, from every source.
TEST(ReaderBuffer, BlockOperationsAfterReadingFindTheInputEnded) {
    for (fitsb::source s : fitsb::every_source) {
        SCOPED_TRACE(fitsb::source_name(s));
        auto file = fitsb::read_from(s, primary, velmora::RM_LOAD_DATA);
        std::string card;
        char byte = 0;
        EXPECT_EQ(fitsb::message_of([&] { file->read_card(card); }), "not a logic error: file ends inside a header");
        EXPECT_EQ(fitsb::message_of([&] { file->read_bytes(&byte, 1); }), "not a logic error: file ends inside the data");
        EXPECT_EQ(fitsb::message_of([&] { file->skip_bytes(5000); }), "not a logic error: file ends inside the data");
    }
}

TEST(ReaderFraming, UnopenablePathIsAReadError) {
    fitsb::temp_file f("");
    const std::string dir = f.path() + ".d";
    ASSERT_TRUE(std::filesystem::create_directory(fitsb::native(dir)));
    outcome missing = read_both("/nonexistent-dir/missing.fits");
    outcome directory = read_both(dir);
    std::filesystem::remove(fitsb::native(dir));
    EXPECT_EQ(missing.error, "cannot open file: No such file or directory");
    EXPECT_TRUE(missing.stream_failure);
    EXPECT_EQ(directory.error, "cannot read file: Is a directory");
    EXPECT_TRUE(directory.stream_failure);
}

}  // namespace

// Headers read one after another, each released after its callback, reuse
// the storage of those before them: whatever the sequence (the same layout
// again, another, shorter, longer, names given twice), every lookup by name
// finds the first valued record of that name, and every value is the
// header's own.
TEST(ReaderReuse, EveryReleasedHeaderIndexesItsOwnRecords) {
    using names = std::vector<std::string>;
    const names a = {"OBJECT", "EXPTIME", "COMMENT", "EXPTIME", "GAIN", "RA", "DEC", "GAIN"};
    const names b = {"FILTER", "AIRMASS", "COMMENT", "DATE"};
    const names shorter(a.begin(), a.begin() + 4);
    names longer = a;
    longer.insert(longer.end(), {"SEEING", "OBJECT", "MJD", "HISTORY"});
    names many;  // long enough to be sorted apart, with names given twice
    for (int i = 0; i < 400; ++i) many.push_back("K" + std::to_string((i * 7) % 350));
    names huge;  // longer than the reader looks ahead for END
    for (int i = 0; i < 15000; ++i) huge.push_back("H" + std::to_string(i % 14000));
    // HIERARCH names longer than eight bytes, alike in their first eight and
    // their lengths: headers with the same places but other names.
    const names h1 = {"HIERARCH ESO A", "HIERARCH ESO B", "GAIN", "HIERARCH ESO A"};
    const names h2 = {"HIERARCH ESO C", "HIERARCH ESO D", "GAIN", "HIERARCH ESO C"};
    names many_h, many_j;
    for (int i = 0; i < 300; ++i) many_h.push_back("HIERARCH ESO K" + std::to_string((i * 7) % 250));
    for (int i = 0; i < 300; ++i) many_j.push_back("HIERARCH ESO J" + std::to_string((i * 7) % 250));
    const std::vector<names> sequence = {a,    a,    b,  a,  shorter, longer, b,      longer, shorter, a, many, b,
                                         many, huge, a,  huge, h1,    h2,     h1,     many_h, many_j, many_h};

    // Extension n holds `hdu * 100000 + position` in each valued card after its mandatory five.
    constexpr std::size_t mandatory = 5;
    std::string bytes = primary;
    for (std::size_t n = 1; n <= sequence.size(); ++n) {
        fitsb::hdu h = fitsb::image(8, {});
        const names& cards = sequence[n - 1];
        for (std::size_t i = 0; i < cards.size(); ++i) {
            if (cards[i] == "COMMENT" || cards[i] == "HISTORY")
                h.add(cards[i] + " no value");
            else if (cards[i].size() > 8)
                h.add(cards[i] + " = " + std::to_string(n * 100000 + i));
            else
                h.integer(cards[i], static_cast<long long>(n * 100000 + i));
        }
        bytes += h.end().bytes();
    }

    for (fitsb::source s : fitsb::every_source) {
        SCOPED_TRACE(fitsb::source_name(s));
        std::size_t n = 0;
        auto check = [&](const velmora::hdu_entry& hdu) {
            if (n++ == 0) return;  // the primary HDU
            const names& cards = sequence[n - 2];
            ASSERT_EQ(hdu.krs_.size(), mandatory + cards.size() + 1);
            std::map<std::string, std::size_t> first;  // of each name
            for (std::size_t i = 0; i < cards.size(); ++i) first.emplace(cards[i], i);
            std::set<std::string> distinct;
            for (std::size_t i = 0; i < cards.size(); ++i) {
                const velmora::keyword_record& kr = hdu.krs_[mandatory + i];
                EXPECT_EQ(kr.index_, static_cast<std::int32_t>(mandatory + i));
                EXPECT_EQ(kr.owner_, &hdu);
                if (kr.get_type() != velmora::KWRT_VALUE) continue;
                distinct.insert(cards[i]);
                EXPECT_EQ(kr.get_int(), static_cast<std::int32_t>((n - 1) * 100000 + i)) << cards[i];
                EXPECT_EQ(hdu.find_record(cards[i]) - hdu.krs_.begin(), static_cast<std::ptrdiff_t>(mandatory + first[cards[i]]))
                    << "HDU " << n << ": " << cards[i];
            }
            EXPECT_EQ(hdu.krs_map_.size(), mandatory + distinct.size()) << "HDU " << n;
            EXPECT_EQ(hdu.find_record("NAXIS")->get_int(), 0);
        };
        fitsb::read_from(s, bytes, velmora::RM_HEADERS_ONLY, check, velmora::KM_RELEASE_HDUS);
        EXPECT_EQ(n, 1 + sequence.size());
    }
    // Kept, the entries move as the list grows; each record names the entry
    // that holds it once the file is read.
    const auto kept = fitsb::read_from(fitsb::source::memory, bytes, velmora::RM_HEADERS_ONLY);
    for (const velmora::hdu_entry& hdu : kept->hdus_)
        for (const velmora::keyword_record& kr : hdu.krs_) ASSERT_EQ(kr.owner_, &hdu);
}
