// Primary and IMAGE HDUs: the order and values of their mandatory keywords,
// the size and content of their data arrays, and where the next HDU starts.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>


namespace {

using velmora::fits_file;
using velmora::hdu_simple_parent;

const std::string primary = fitsb::primary(8, {}).end().bytes();

// An IMAGE extension with five known data bytes, placed after the HDU under
// test: it is only found, and its data only right, when that HDU ended at
// the right block.
const std::string marker = fitsb::image(8, {5}).end().data("ABCDE").bytes();

using fitsb::pattern;

// The mandatory cards of a primary or IMAGE HDU with any number of axes.
fitsb::hdu array_hdu(bool image, int bitpix, const std::vector<long long>& dims) {
    fitsb::hdu h;
    if (image)
        h.string("XTENSION", "IMAGE");
    else
        h.logical("SIMPLE", true);
    h.integer("BITPIX", bitpix).integer("NAXIS", static_cast<long long>(dims.size()));
    for (std::size_t n = 0; n < dims.size(); ++n) h.integer("NAXIS" + std::to_string(n + 1), dims[n]);
    if (image) h.integer("PCOUNT", 0).integer("GCOUNT", 1);
    return h;
}

using fitsb::error_of;

std::unique_ptr<fits_file> read(const std::string& path, velmora::read_mode mode) {
    return std::make_unique<fits_file>(path, mode);
}

const hdu_simple_parent& simple(const fits_file& file, std::size_t i) {
    return dynamic_cast<const hdu_simple_parent&>(*file.hdus_.at(i).get_hdu());
}

// A primary HDU with NAXIS = 1000: NAXIS1 ... NAXIS999, then a card whose
// nine-character name cannot fit the name field.
fitsb::hdu thousand_axes() {
    fitsb::hdu h;
    h.logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 1000);
    for (int n = 1; n <= 999; ++n) h.integer("NAXIS" + std::to_string(n), 1);
    return h.add("NAXIS1000=                   1");
}

TEST(SimpleHeader, MandatoryKeywordsInOrderWithValidValues) {
    struct header_case {
        const char* name;
        bool image;  // placed after a primary HDU
        fitsb::hdu cards;
        const char* error;
    };
    const header_case cases[] = {
        {"SIMPLE = F", false, fitsb::hdu().logical("SIMPLE", false).integer("BITPIX", 8).integer("NAXIS", 0),
         "HDU 1, card 1: Not conforming to the standard"},
        {"SIMPLE as an integer", false, fitsb::hdu().integer("SIMPLE", 1).integer("BITPIX", 8).integer("NAXIS", 0),
         "HDU 1, card 1: Unexpected keyword value type"},
        {"SIMPLE without value", false, fitsb::hdu().value("SIMPLE", "").integer("BITPIX", 8).integer("NAXIS", 0),
         "HDU 1, card 1: Unexpected keyword value type"},
        {"BITPIX 12", false, fitsb::primary(12, {}), "HDU 1, card 2: Primary HDU: bad BITPIX"},
        {"BITPIX as 8.0", false, fitsb::hdu().logical("SIMPLE", true).real("BITPIX", "8.0").integer("NAXIS", 0),
         "HDU 1, card 2: Unexpected keyword value type"},
        {"NAXIS before BITPIX", false, fitsb::hdu().logical("SIMPLE", true).integer("NAXIS", 0).integer("BITPIX", 8),
         "HDU 1, card 2: Unexpected keyword"},
        {"COMMENT before BITPIX", false, fitsb::hdu().logical("SIMPLE", true).comment("x").integer("BITPIX", 8),
         "HDU 1, card 2: Unexpected comment"},
        {"NAXIS -1", false, fitsb::hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", -1),
         "HDU 1, card 3: Primary HDU: bad NAXIS"},
        {"NAXIS3 in place of NAXIS2", false,
         fitsb::hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 3).integer("NAXIS1", 1)
             .integer("NAXIS3", 1).integer("NAXIS2", 1),
         "HDU 1, card 5: Unexpected keyword"},
        {"NAXIS1 -5", false, array_hdu(false, 8, {-5}), "HDU 1, card 4: Primary HDU: bad dimension"},
        {"NAXIS1 as 10.0", false,
         fitsb::hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 1).real("NAXIS1", "10.0"),
         "HDU 1, card 4: Unexpected keyword value type"},
        {"COMMENT between NAXIS and NAXIS1", false,
         fitsb::hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 1).comment("x")
             .integer("NAXIS1", 1),
         "HDU 1, card 4: Unexpected comment"},
        {"END in place of NAXIS2", false,
         fitsb::hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 2).integer("NAXIS1", 1).end(),
         "HDU 1, card 5: Unexpected comment"},
        {"NAXIS 1000", false, thousand_axes(), "HDU 1, card 1003: Bad keyword format"},
        {"card error after the axes", false, fitsb::primary(8, {}).add("BROKEN  = 'no closing quote"),
         "HDU 1, card 4: EOL in string"},
        {"commentary and free keywords after the axes", false,
         fitsb::primary(8, {}).comment("x").history("y").add("").logical("EXTEND", true).real("BSCALE", "1.0"), ""},
        {"IMAGE with PCOUNT 0 and GCOUNT 1", true, fitsb::image(16, {}), ""},
        {"a value that only begins as IMAGE is another extension", true,
         fitsb::hdu().value("XTENSION", "'IMAGE   ''X'").integer("BITPIX", 8).integer("NAXIS", 0)
             .integer("PCOUNT", 0).integer("GCOUNT", 1),
         ""},
        {"IMAGE BITPIX 12", true, array_hdu(true, 12, {}), "HDU 2, card 2: Primary HDU: bad BITPIX"},
        {"IMAGE NAXIS -1", true, fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", -1),
         "HDU 2, card 3: Primary HDU: bad NAXIS"},
        {"IMAGE PCOUNT 1", true,
         fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", 0).integer("PCOUNT", 1)
             .integer("GCOUNT", 1),
         "HDU 2, card 4: Not conforming to the standard"},
        {"IMAGE GCOUNT 2", true,
         fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", 0).integer("PCOUNT", 0)
             .integer("GCOUNT", 2),
         "HDU 2, card 5: Not conforming to the standard"},
        {"IMAGE without PCOUNT", true,
         fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", 0).integer("GCOUNT", 1),
         "HDU 2, card 4: Unexpected keyword"},
        {"IMAGE blank card in place of GCOUNT", true,
         fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", 0).integer("PCOUNT", 0)
             .add(""),
         "HDU 2, card 5: Unexpected comment"},
    };
    for (const header_case& c : cases) {
        SCOPED_TRACE(c.name);
        fitsb::hdu h = c.cards;
        EXPECT_EQ(error_of((c.image ? primary : std::string()) + h.end().bytes()), c.error);
    }
}

TEST(SimpleHeader, RecordsKeepCardOrderUpToEnd) {
    fitsb::temp_file f(primary + fitsb::image(8, {}).comment("note").string("EXTNAME", "SCI").end()
                                     .add("NOTREAD = 1").bytes());
    auto file = read(f.path(), velmora::RM_LOAD_DATA);
    const velmora::hdu_entry& image = file->hdus_.at(1);
    std::vector<std::string> names;
    for (const velmora::keyword_record& kr : image.krs_) names.push_back(kr.name_);
    EXPECT_EQ(names, (std::vector<std::string>{"XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "COMMENT",
                                                "EXTNAME", "END"}));
    EXPECT_EQ(image.krs_.back().get_type(), velmora::KWRT_END);
    EXPECT_EQ(image.krs_.front().get_string(), "IMAGE");
}

TEST(SimpleData, SizeContentAndNextHduPlacement) {
    struct size_case {
        const char* name;
        bool image;
        int bitpix;
        std::vector<long long> dims;
        std::int32_t data_type;
        std::uint64_t size;
    };
    const size_case cases[] = {
        {"NAXIS 0", false, 8, {}, velmora::DT_BYTE, 0},
        {"an axis of 0", false, 16, {512, 0}, velmora::DT_INT16, 0},
        {"first axis of 0", true, 32, {0, 5}, velmora::DT_INT, 0},
        {"three bytes", false, 8, {3}, velmora::DT_BYTE, 3},
        {"exactly one block", false, 32, {720}, velmora::DT_INT, 2880},
        {"BITPIX 16, 100 x 200", false, 16, {100, 200}, velmora::DT_INT16, 40000},
        {"BITPIX -64, 100 x 200", false, -64, {100, 200}, velmora::DT_DOUBLE, 160000},
        {"IMAGE BITPIX -32, 100 x 100", true, -32, {100, 100}, velmora::DT_FLOAT, 40000},
        {"IMAGE BITPIX 64, 2 x 3 x 4", true, 64, {2, 3, 4}, velmora::DT_INT64, 192},
        {"more than a stream's growth step, not a multiple of it", false, 8, {100, 1000}, velmora::DT_BYTE, 100000},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = pattern(c.size);
        const std::string bytes = (c.image ? primary : std::string()) +
                                  array_hdu(c.image, c.bitpix, c.dims).end().data(data).bytes() + marker;
        const std::size_t at = c.image ? 1 : 0;
        for (int reading = 0; reading < 8; ++reading) {
            const velmora::read_mode mode = reading % 2 ? velmora::RM_HEADERS_ONLY : velmora::RM_LOAD_DATA;
            const fitsb::source from = fitsb::every_source[reading / 2];
            SCOPED_TRACE(fitsb::source_name(from));
            auto file = fitsb::read_from(from, bytes, mode);
            ASSERT_EQ(file->hdus_.size(), at + 2);
            const hdu_simple_parent& hdu = simple(*file, at);
            EXPECT_EQ(hdu.get_data_type(), c.data_type);
            EXPECT_EQ(hdu.get_dims(), std::vector<std::int32_t>(c.dims.begin(), c.dims.end()));
            EXPECT_EQ(hdu.data_size(), c.size);
            if (mode == velmora::RM_HEADERS_ONLY || c.size == 0) {
                EXPECT_EQ(hdu.get_data(), nullptr);
            } else {
                ASSERT_NE(hdu.get_data(), nullptr);
                EXPECT_EQ(std::string(hdu.get_data(), c.size), data);
            }
            if (mode == velmora::RM_LOAD_DATA) {
                ASSERT_NE(simple(*file, at + 1).get_data(), nullptr);
                EXPECT_EQ(std::string(simple(*file, at + 1).get_data(), 5), "ABCDE");
            }
        }
    }
}

// A data array of 8 GiB, held by a sparse file and passed over in
// headers-only mode: the size is exact and the next HDU is found after it.
TEST(SimpleData, SizesBeyond32Bits) {
    const std::uint64_t size = 8589934592ULL;
    const std::uint64_t blocks = (size + fitsb::block - 1) / fitsb::block;
    const std::string header = array_hdu(false, 16, {65536, 65536}).end().bytes();
    fitsb::temp_file f(header);
    std::filesystem::resize_file(fitsb::native(f.path()), header.size() + blocks * fitsb::block);  // 64-bit sizes on any build
    {
        std::ofstream out(fitsb::native(f.path()), std::ios::binary | std::ios::app);
        out << marker;
    }
    auto file = read(f.path(), velmora::RM_HEADERS_ONLY);
    ASSERT_EQ(file->hdus_.size(), 2u);
    EXPECT_EQ(simple(*file, 0).data_size(), size);
    EXPECT_EQ(file->hdus_[1].get_hdu_type(), velmora::HT_IMAGE);
    // Loaded, data that one buffer of this build cannot hold (a 32-bit
    // build holds at most 2 GiB) is refused at its HDU before anything is
    // allocated; a 64-bit build loads 8 GiB only where memory allows, so
    // it is not tried there.
    if (std::vector<char>().max_size() >= size) return;
    try {
        velmora::fits_file loaded(f.path(), velmora::RM_LOAD_DATA);
        ADD_FAILURE() << "loaded";
    } catch (const std::exception& e) {
        EXPECT_EQ(fitsb::located_text(e), "HDU 1: data too large to hold in memory");
        ASSERT_NE(velmora::location_of(e), nullptr);
        EXPECT_EQ(velmora::location_of(e)->offset, 2880u);
        EXPECT_EQ(velmora::location_of(e)->detail, "8589934592 bytes from byte 2880; this build holds at most " +
                                                       std::to_string(std::vector<char>().max_size()) +
                                                       " bytes in one buffer");
    }
}

}  // namespace
