// The header model: keyword records and their accessors, HDU entries with
// their name index and shared HDU object, and the header-checking operations.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"
#include "internal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A line number in an expected assertion message, in the regular
// expressions GoogleTest offers on this platform.
#if defined(GTEST_USES_SIMPLE_RE)
#define LINE_NUMBER "\\d+"
#else
#define LINE_NUMBER "[0-9]+"
#endif

namespace {

using namespace velmora;

std::string V(const std::string& name, const std::string& text) { return fitsb::card(name, text); }

// Parses `card` for `entry` and appends the record.
void add(hdu_entry& entry, const std::string& card) { entry.add_record(keyword_record(entry, card)); }

// A record parsed for a scratch entry.
keyword_record parsed(const std::string& card) {
    static const hdu_entry scratch(HT_PRIMARY);
    return keyword_record(scratch, card);
}

using fitsb::message_of;

TEST(HeaderModel, DefaultRecordIsUnclassifiedAndEmpty) {
    keyword_record kr;
    EXPECT_EQ(kr.get_type(), KWRT_NONE);
    EXPECT_EQ(kr.dt_, DT_UNKNOWN);
    EXPECT_TRUE(kr.is_null_);
    EXPECT_EQ(kr.name_, "");
    EXPECT_EQ(kr.comment_, "");
    EXPECT_EQ(kr.string_value_, "");
    EXPECT_EQ(kr.complex_int_value_, (std::pair<std::int32_t, std::int32_t>{0, 0}));
    EXPECT_EQ(kr.complex_double_value_, (std::pair<double, double>{0.0, 0.0}));
}

TEST(HeaderModel, AccessorsReturnTheParsedValue) {
    keyword_record b = parsed(V("SIMPLE", "T"));
    EXPECT_EQ(b.get_type(), KWRT_VALUE);
    EXPECT_EQ(b.get_name(), "SIMPLE");
    EXPECT_EQ(b.get_dt(), DT_BOOL);
    EXPECT_FALSE(b.is_null());
    EXPECT_TRUE(b.get_bool());
    EXPECT_EQ(parsed(V("NAXIS", "-3")).get_int(), -3);
    EXPECT_EQ(parsed(V("DSUN_REF", "149597870691")).get_int64(), 149597870691);
    EXPECT_EQ(parsed(V("BSCALE", "2.5")).get_double(), 2.5);
    EXPECT_EQ(parsed(V("OBJECT", "'M31 '")).get_string(), "M31");
    EXPECT_EQ(parsed(V("ZI", "(1,-2)")).get_complex_int(), (std::pair<std::int32_t, std::int32_t>{1, -2}));
    EXPECT_EQ(parsed(V("ZD", "(1,.5)")).get_complex_double(), (std::pair<double, double>{1.0, 0.5}));
    EXPECT_EQ(parsed(fitsb::card("CONTINUE", "'tail'", "", "  ")).get_string(), "tail");
    keyword_record undef = parsed(V("UNDEF", ""));
    EXPECT_EQ(undef.get_dt(), DT_UNKNOWN);
    EXPECT_TRUE(undef.is_null());
    EXPECT_EQ(parsed(fitsb::raw("COMMENT x")).get_type(), KWRT_COMMENT);
}

TEST(HeaderModel, AccessorOnAnotherRecordTypeAborts) {
    keyword_record floating = parsed(V("BSCALE", "2.5"));
    EXPECT_DEATH(floating.get_int(),
                 "Assertion failed: type_==KWRT_VALUE && !is_null_ && dt_==DT_INT, file .*fits.*, line " LINE_NUMBER);
    EXPECT_DEATH(parsed(V("NAXIS", "3")).get_int64(),
                 "Assertion failed: type_==KWRT_VALUE && !is_null_ && dt_==DT_INT64, file .*fits.*, line " LINE_NUMBER);
    keyword_record comment = parsed(fitsb::raw("COMMENT x"));
    EXPECT_DEATH(comment.get_name(), "Assertion failed: type_==KWRT_VALUE, file .*fits.*, line " LINE_NUMBER);
}

// A long string is joined from the records of its header, whichever way
// the header was read: kept, or handed to a callback and released.
TEST(HeaderModel, LongStringJoinedOverContinueCards) {
    const std::string bytes =
        fitsb::primary(8, {}).end().bytes() + fitsb::image(8, {}).value("SOURCE", "'hmi.lev1[:#1,&'")
                                                  .add("CONTINUE  '#2,&'").add("CONTINUE  '#3]'").end().bytes();
    auto joined = [](const hdu_entry& hdu) {
        hdu_entry::position pos = hdu.find_record("SOURCE");
        EXPECT_EQ(pos->get_string(), "hmi.lev1[:#1,&");  // the card's own value is kept
        std::string value = "replaced";
        hdu.long_string(pos, value);
        return value;
    };
    std::string released;
    std::istringstream in(bytes);
    fits_file file(in, RM_HEADERS_ONLY, [&](const hdu_entry& hdu) { if (hdu.get_hdu_type() == HT_IMAGE) released = joined(hdu); },
                   KM_RELEASE_HDUS);
    EXPECT_EQ(released, "hmi.lev1[:#1,#2,#3]");
    fits_file kept(memory_input{bytes.data(), bytes.size()});
    EXPECT_EQ(joined(kept.hdus_.at(1)), "hmi.lev1[:#1,#2,#3]");
}

TEST(HeaderModel, EntryOfUnassignedKindAborts) {
    EXPECT_DEATH({ hdu_entry entry(5); }, "Assertion failed: hdu_type>=0 && hdu_type<hdu_kind_count, file .*src/header_model.cpp, line " LINE_NUMBER);
}

TEST(HeaderModel, EntryCreatesTheHduObjectOfItsKind) {
    const struct {
        std::int32_t hdu_type;
        std::int32_t kind_code;
        const char* xtension;
        const char* title;
    } cases[] = {{HT_PRIMARY, 0, "", "Primary"},
                 {HT_IMAGE, 2, "IMAGE", "Image"},
                 {HT_TABLE, 3, "TABLE", "Table"},
                 {HT_BINTABLE, 1, "BINTABLE", "BinTable"},
                 {HT_EXTENSION, 4, "", "Extension"}};
    static_assert(sizeof(cases) / sizeof(cases[0]) == hdu_kind_count, "one row per kind");
    for (const auto& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.hdu_type));
        EXPECT_EQ(hdu_kinds[c.hdu_type].code, c.hdu_type);
        EXPECT_STREQ(hdu_kinds[c.hdu_type].xtension, c.xtension);
        EXPECT_STREQ(hdu_kinds[c.hdu_type].title, c.title);
        hdu_entry entry(c.hdu_type);
        EXPECT_EQ(hdu_kinds[c.hdu_type].data_size(*entry.get_hdu()), 0u);
        EXPECT_EQ(entry.get_hdu_type(), c.hdu_type);
        EXPECT_TRUE(entry.krs_.empty());
        EXPECT_TRUE(entry.krs_map_.empty());
        ASSERT_NE(entry.get_hdu(), nullptr);
        EXPECT_EQ(entry.get_hdu()->kind_code(), c.kind_code);
    }
    hdu_entry image(HT_IMAGE), table(HT_BINTABLE);
    EXPECT_NE(dynamic_cast<hdu_primary*>(hdu_entry(HT_PRIMARY).get_hdu().get()), nullptr);
    auto* simple = dynamic_cast<hdu_image*>(image.get_hdu().get());
    ASSERT_NE(simple, nullptr);
    EXPECT_TRUE(simple->get_dims().empty());
    EXPECT_EQ(simple->get_data(), nullptr);
    auto* bintable = dynamic_cast<hdu_bintable*>(table.get_hdu().get());
    ASSERT_NE(bintable, nullptr);
    EXPECT_TRUE(bintable->columns_.empty());
    EXPECT_TRUE(bintable->rows_.empty());
}

TEST(HeaderModel, AddRecordIndexesValuedRecordsOnly) {
    const std::vector<std::string> cards = {
        V("SIMPLE", "T"),      V("BITPIX", "8"),   fitsb::raw("COMMENT x"),
        V("NAXIS", "0"),       V("OBJECT", "'a'"), fitsb::raw("HISTORY y"),
        fitsb::raw("  blank"), V("UNDEF", ""),     fitsb::card("CONTINUE", "'z'", "", "  "),
        V("CONTINUE", "7"),    V("OBJECT", "'b'"), fitsb::raw("END")};
    const std::map<std::string, std::int32_t> index = {
        {"SIMPLE", 0}, {"BITPIX", 1}, {"NAXIS", 3}, {"OBJECT", 4}, {"UNDEF", 7}};
    for (bool by_move : {false, true}) {
        SCOPED_TRACE(by_move ? "moved records" : "copied records");
        hdu_entry entry(HT_PRIMARY);
        for (const std::string& card : cards) {
            keyword_record kr(entry, card);
            if (by_move)
                entry.add_record(std::move(kr));
            else
                entry.add_record(kr);
        }
        ASSERT_EQ(entry.krs_.size(), cards.size());
        EXPECT_EQ(entry.krs_map_, index);
        EXPECT_EQ(entry.krs_[10].string_value_, "b");  // the repeated OBJECT is kept in order
        EXPECT_EQ(entry.krs_[11].get_type(), KWRT_END);
    }
}

TEST(HeaderModel, FindRecordLooksUpTheFirstValuedRecordOfAName) {
    hdu_entry entry(HT_PRIMARY);
    for (const std::string& card : {V("SIMPLE", "T"), V("OBJECT", "'first'"), V("OBJECT", "'second'"),
                                    fitsb::card("CONTINUE", "'z'", "", "  "), fitsb::raw("END")})
        add(entry, card);
    const struct {
        const char* name;
        std::ptrdiff_t position;  // -1: the end of krs_
    } cases[] = {{"SIMPLE", 0}, {"OBJECT", 1}, {"simple", -1}, {"SIMPL", -1},
                 {"CONTINUE", -1}, {"END", -1}, {"", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hdu_entry::position pos = entry.find_record(c.name);
        EXPECT_EQ(pos == entry.krs_.end() ? -1 : pos - entry.krs_.begin(), c.position);
    }
}

TEST(HeaderModel, ExpectKeywordChecksTypeThenNameThenValueType) {
    const struct {
        std::string card;
        std::string name;
        std::int32_t dt;
        std::string message;
    } cases[] = {
        {fitsb::raw("END"), "NAXIS", DT_INT, "Unexpected comment"},
        {fitsb::raw("COMMENT = 2"), "NAXIS", DT_INT, "Unexpected comment"},
        {fitsb::raw("        = 2"), "NAXIS", DT_INT, "Unexpected comment"},
        {V("CONTINUE", "2"), "CONTINUE", DT_INT, "Unexpected comment"},
        {V("NAXIS1", "2"), "NAXIS", DT_INT, "Unexpected keyword"},
        {V("NAXIS", "2"), "NAXIS1", DT_INT, "Unexpected keyword"},
        {V("naxis", "2"), "NAXIS", DT_INT, "Unexpected keyword"},
        {V("BITPIX", "2.0"), "NAXIS", DT_INT, "Unexpected keyword"},  // name before type
        {V("NAXIS", "2.0"), "NAXIS", DT_INT, "Unexpected keyword value type"},
        {V("NAXIS", ""), "NAXIS", DT_INT, "Unexpected keyword value type"},
        {V("BSCALE", "2"), "BSCALE", DT_DOUBLE, "Unexpected keyword value type"},
        {V("NAXIS", "2 x"), "NAXIS", DT_INT, "Garbage chars after value"},
        {fitsb::raw("NAXIS   2"), "NAXIS", DT_INT, "Unexpected comment"},  // a commentary card
        {fitsb::raw("NAXIS   =2"), "NAXIS", DT_INT, "Bad keyword format"},
        {fitsb::raw("HIERARCH NAXIS = 2"), "NAXIS", DT_INT, "Unexpected keyword"},
        {V("NAXIS", "2"), "NAXIS", DT_INT, "no error"},
        {V("XTENSION", "''"), "XTENSION", DT_STRING, "no error"},  // a null string is not examined
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("card [" + c.card + "] for " + c.name);
        hdu_entry entry(HT_PRIMARY);
        add(entry, V("SIMPLE", "T"));
        keyword_record kr;
        EXPECT_EQ(message_of([&] { expect_keyword(entry, c.card, c.name, c.dt, kr); }), c.message);
        EXPECT_EQ(entry.krs_.size(), 1u);  // the caller appends, never expect_keyword
        if (c.message == "no error") {
            EXPECT_EQ(kr.name_, c.name);
            EXPECT_EQ(kr.index_, 1);
        }
    }
}

TEST(HeaderModel, FindKeywordRequiresPresenceAndType) {
    hdu_entry entry(HT_BINTABLE);
    for (const std::string& card : {V("NAXIS", "2"), V("OBJECT", "'a'"), V("OBJECT", "'b'"), V("UNDEF", ""),
                                    V("TTYPE1", "''"), fitsb::card("CONTINUE", "'z'", "", "  ")})
        add(entry, card);
    const std::string absent = "Not conforming to the standard";
    const std::string type = "Unexpected keyword value type";
    const struct {
        const char* name;
        std::int32_t dt;
        bool required;
        std::ptrdiff_t position;  // -1: the end of krs_, or an error
        std::string message;
    } cases[] = {
        {"NAXIS", DT_INT, true, 0, ""},
        {"NAXIS", DT_INT, false, 0, ""},
        {"OBJECT", DT_STRING, true, 1, ""},
        {"TTYPE1", DT_STRING, true, 4, ""},  // null string: the caller asks is_null()
        {"THEAP", DT_INT, false, -1, ""},
        {"THEAP", DT_INT, true, -1, absent},
        {"CONTINUE", DT_STRING, false, -1, ""},
        {"CONTINUE", DT_STRING, true, -1, absent},
        {"NAXIS", DT_DOUBLE, true, -1, type},
        {"NAXIS", DT_DOUBLE, false, -1, type},
        {"UNDEF", DT_INT, true, -1, type},
        {"UNDEF", DT_INT, false, -1, type},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.required ? " required" : " optional"));
        std::ptrdiff_t found = -2;
        std::string message = message_of([&] {
            hdu_entry::position pos = find_keyword(entry, c.name, c.dt, c.required);
            found = pos == entry.krs_.end() ? -1 : pos - entry.krs_.begin();
        });
        EXPECT_EQ(message, c.message.empty() ? "no error" : c.message);
        if (c.message.empty()) {
            EXPECT_EQ(found, c.position);
        }
    }
}

TEST(HeaderModel, CopiedEntrySharesTheHduObject) {
    std::weak_ptr<hdu_data> watch;
    {
        std::unique_ptr<hdu_entry> copy;
        {
            hdu_entry source(HT_BINTABLE);
            add(source, V("NAXIS1", "4"));
            watch = source.get_hdu();
            copy = std::make_unique<hdu_entry>(source);
            EXPECT_EQ(copy->get_hdu(), source.get_hdu());
            EXPECT_EQ(copy->get_hdu_type(), HT_BINTABLE);
            copy->add_record(parsed(V("NAXIS2", "1")));  // records and index are the copy's own
            EXPECT_EQ(source.krs_.size(), 1u);
            EXPECT_EQ(source.krs_map_.count("NAXIS2"), 0u);
        }
        ASSERT_FALSE(watch.expired());
        EXPECT_EQ(watch.use_count(), 1);
        EXPECT_EQ(copy->find_record("NAXIS1")->get_int(), 4);
    }
    EXPECT_TRUE(watch.expired());
}

TEST(HeaderModel, DataTypeNamesAndElementSizes) {
    // An error's detail shows a record K of each type a card can hold
    // (nullptr: an element type only).
    const struct {
        std::int32_t dt;
        const char* name;
        std::uint32_t size;
        const char* detail;
    } cases[] = {{DT_UNKNOWN, "unknown", 0, "K without a value"},
                 {DT_BOOL, "logical", 1, "K = F"},
                 {DT_BYTE, "byte", 1, nullptr},
                 {DT_INT16, "int16", 2, nullptr},
                 {DT_INT, "int32", 4, "K = 0"},
                 {DT_INT64, "int64", 8, "K = 0"},
                 {DT_FLOAT, "float", 4, nullptr},
                 {DT_DOUBLE, "double", 8, "K = 0.0"},
                 {DT_STRING, "string", 1, "K = ''"},
                 {DT_COMPLEX_INT, "complex int", 8, "K = (0, 0)"},
                 {DT_COMPLEX_DOUBLE, "complex double", 16, "K = (0.0, 0.0)"}};
    static_assert(sizeof(cases) / sizeof(cases[0]) == data_type_count, "one row per data type");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(data_type_name[c.dt], c.name);
        EXPECT_EQ(data_type_size[c.dt], c.size);
        if (!c.detail) continue;
        keyword_record kr;
        kr.type_ = KWRT_VALUE;
        kr.name_ = "K";
        kr.dt_ = c.dt;
        kr.is_null_ = c.dt == DT_UNKNOWN;
        EXPECT_EQ(record_text(kr), c.detail);
    }
}

}  // namespace
