// The tool's report code, linked into the test programs, so that a suite can
// compose, in its own process, the report of a file whose HDUs are all kept,
// and hold the tool to it: the tool releases each HDU as soon as its lines
// are composed.
#include "report.h"

#include "escaping.h"
#include "fits_builder.h"
#include "number_text.h"

#include <sstream>

namespace fitsb {

namespace {

using namespace velmora;

// The report that `read` composes in `out`, with the error line and status
// the tool would give for `path`.
template <typename Read>
run_result compose(const std::string& path, Read read) {
    run_result r;
    tessary::report_text out;
    try {
        read(out);
        r.out = out.text();
        r.status = 0;
    } catch (const std::exception& e) {
        r.err = tessary::error_line(path, e) + "\n";
        r.status = 1;
    }
    return r;
}

}  // namespace

std::string shown(const std::string& text) {
    std::vector<char> out(4 * text.size() + 8);
    return std::string(out.data(), static_cast<std::size_t>(write_printable(out.data(), text) - out.data()));
}

std::string formatted(double value) {
    char text[64];
    return std::string(text, static_cast<std::size_t>(write_double(text, value) - text));
}

run_result kept_report(const std::string& path) {
    run_result kept = compose(path, [&](tessary::report_text& out) {
        fits_file file(path, RM_HEADERS_ONLY);
        for (const hdu_entry& entry : file.hdus_) tessary::report_hdu(out, entry);
    });
    // The same bytes from memory (HDUs kept) and from an istream (data
    // loaded, HDUs released) give the same report, message and status.
    std::uintmax_t size = 0;
    if (!regular_size(path, size) || size > (std::uintmax_t{64} << 20)) return kept;
    const std::string bytes = slurp(path);
    run_result memory = compose(path, [&](tessary::report_text& out) {
        fits_file file(memory_input{bytes.data(), bytes.size()}, RM_HEADERS_ONLY);
        for (const hdu_entry& entry : file.hdus_) tessary::report_hdu(out, entry);
    });
    std::istringstream in(bytes);
    run_result stream = compose(path, [&](tessary::report_text& out) {
        fits_file file(in, RM_LOAD_DATA, [&](const hdu_entry& entry) { tessary::report_hdu(out, entry); },
                       KM_RELEASE_HDUS);
    });
    for (const run_result* r : {&memory, &stream}) {
        const char* from = r == &memory ? "from memory: " : "from an istream: ";
        EXPECT_EQ(r->out, kept.out) << from << path;
        EXPECT_EQ(r->err, kept.err) << from << path;
        EXPECT_EQ(r->status, kept.status) << from << path;
    }
    return kept;
}

}  // namespace fitsb
