// Random-groups primary HDUs: GROUPS = T with NAXIS1 = 0 holds GCOUNT groups
// of PCOUNT parameters and an array of NAXIS2 x ... x NAXISn elements.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using velmora::fits_file;
using velmora::hdu_simple_parent;

const hdu_simple_parent& primary_of(const fits_file& f) {
    return static_cast<const hdu_simple_parent&>(*f.hdus_.at(0).get_hdu());
}

// A random-groups primary: BITPIX -32, axes 0 x 3 x 2, then `extra` cards.
fitsb::hdu groups_primary(const std::vector<std::string>& extra) {
    fitsb::hdu h = fitsb::primary(-32, {0, 3, 2});
    for (const std::string& c : extra) h.add(c);
    return h.end();
}

struct size_case {
    const char* what;
    fitsb::hdu header;
    unsigned long long size;
};

TEST(RandomGroups, DataSizeFollowsGroupsRule) {
    const std::string T = fitsb::fixed("T"), F = fitsb::fixed("F");
    const size_case cases[] = {
        {"groups with parameters", groups_primary({fitsb::card("GROUPS", T), fitsb::card("PCOUNT", fitsb::fixed("5")),
                                                   fitsb::card("GCOUNT", fitsb::fixed("7"))}),
         4ull * 7 * (5 + 3 * 2)},
        {"PCOUNT and GCOUNT absent count 0 and 1", groups_primary({fitsb::card("GROUPS", T)}), 4ull * 6},
        {"GCOUNT 0 gives no data", groups_primary({fitsb::card("GROUPS", T), fitsb::card("PCOUNT", fitsb::fixed("5")),
                                                   fitsb::card("GCOUNT", fitsb::fixed("0"))}),
         0},
        {"GROUPS = F keeps the array rule", groups_primary({fitsb::card("GROUPS", F), fitsb::card("GCOUNT", fitsb::fixed("7"))}), 0},
        {"GROUPS absent keeps the array rule", groups_primary({fitsb::card("GCOUNT", fitsb::fixed("7"))}), 0},
        {"GROUPS not logical is no flag", groups_primary({fitsb::card("GROUPS", fitsb::fixed("1"))}), 0},
        {"first GROUPS card counts", groups_primary({fitsb::card("GROUPS", F), fitsb::card("GROUPS", T)}), 0},
        {"NAXIS = 1: the product of no axes is 1",
         fitsb::primary(8, {0}).logical("GROUPS", true).integer("PCOUNT", 3).integer("GCOUNT", 2).end(), 2ull * (3 + 1)},
        {"NAXIS1 not 0 is a plain array", fitsb::primary(8, {4}).logical("GROUPS", true).integer("GCOUNT", 9).end(), 4},
    };
    for (const size_case& c : cases) {
        fitsb::hdu h = c.header;
        h.data(static_cast<std::size_t>(c.size));
        fitsb::temp_file f(h.bytes());
        fits_file file(f.path());
        ASSERT_EQ(file.hdus_.size(), 1u) << c.what;
        EXPECT_EQ(primary_of(file).data_size(), c.size) << c.what;
    }
}

TEST(RandomGroups, KeywordFaultsAreReported) {
    const std::string T = fitsb::fixed("T");
    // Cards 1-6 are SIMPLE ... NAXIS3, GROUPS is card 7: the card named is
    // the one whose value is refused.
    const struct {
        std::vector<std::string> cards;
        const char* error;
    } cases[] = {
        {{fitsb::card("GROUPS", T), fitsb::card("GCOUNT", fitsb::fixed("10.0"))},
         "HDU 1, card 8: Unexpected keyword value type"},
        {{fitsb::card("GROUPS", T), fitsb::card("PCOUNT", "'6'")}, "HDU 1, card 8: Unexpected keyword value type"},
        {{fitsb::card("GROUPS", T), fitsb::card("PCOUNT", fitsb::fixed("-1"))},
         "HDU 1, card 8: Not conforming to the standard"},
        {{fitsb::card("GROUPS", T), fitsb::card("GCOUNT", fitsb::fixed("-1"))},
         "HDU 1, card 8: Not conforming to the standard"},
        // PCOUNT is checked before GCOUNT.
        {{fitsb::card("GROUPS", T), fitsb::card("GCOUNT", fitsb::fixed("1.5")), fitsb::card("PCOUNT", fitsb::fixed("-1"))},
         "HDU 1, card 9: Not conforming to the standard"},
    };
    for (const auto& c : cases) EXPECT_EQ(fitsb::error_of(groups_primary(c.cards).bytes()), c.error);
}

TEST(RandomGroups, GroupsAreReadAndTheNextHduFollows) {
    fitsb::hdu prim = fitsb::primary(16, {0, 2});
    prim.logical("GROUPS", true).integer("PCOUNT", 3).integer("GCOUNT", 1000).end();
    prim.data(2u * 1000 * (3 + 2), '\x07');
    fitsb::hdu table = fitsb::bintable(4, 2, 0, {"1J"}).end().data(8);
    fitsb::temp_file f(prim.bytes() + table.bytes());

    for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
        fits_file file(f.path(), mode);
        ASSERT_EQ(file.hdus_.size(), 2u);
        EXPECT_EQ(primary_of(file).data_size(), 10000u);
        EXPECT_EQ(primary_of(file).get_dims(), (std::vector<std::int32_t>{0, 2}));
        EXPECT_EQ(file.hdus_[1].get_hdu_type(), velmora::HT_BINTABLE);
        if (mode == velmora::RM_LOAD_DATA) {
            ASSERT_NE(primary_of(file).get_data(), nullptr);
            EXPECT_EQ(primary_of(file).data_.size(), 10000u);
            EXPECT_EQ(primary_of(file).get_data()[9999], '\x07');
        }
    }
}

TEST(RandomGroups, GroupsFlagInAnImageExtensionChangesNothing) {
    fitsb::temp_file f(fitsb::primary(8, {}).end().bytes() +
                       fitsb::image(8, {0, 3}).logical("GROUPS", true).end().bytes());
    fits_file file(f.path());
    ASSERT_EQ(file.hdus_.size(), 2u);
    EXPECT_EQ(static_cast<const hdu_simple_parent&>(*file.hdus_[1].get_hdu()).data_size(), 0u);
}

TEST(RandomGroups, HugeGroupCountFailsWithoutAllocating) {
    fitsb::temp_file f(fitsb::primary(-64, {0, 2147483647})
                           .logical("GROUPS", true)
                           .integer("PCOUNT", 2147483647)
                           .integer("GCOUNT", 2147483647)
                           .end()
                           .bytes());
    fitsb::run_result r = fitsb::tessary(f.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tessary: " + f.path() +
                         ": HDU 1: file ends inside the data: 2^64 or more bytes from byte 2880; the input ends at byte 2880\n");
}

TEST(RandomGroups, InterferometryFileIsListed) {
    fitsb::run_result r = fitsb::tessary(fitsb::sample("random_groups.fits"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("GROUPS[logical]=TRUE\n"), std::string::npos);
    EXPECT_NE(r.out.find("Data: 360B\n\nBinTable\n"), std::string::npos);
    EXPECT_NE(r.out.find("EXTNAME[string]=AIPS AN\n"), std::string::npos);
    EXPECT_NE(r.out.find("Data: 36B\n\n"), std::string::npos);
}

}  // namespace
