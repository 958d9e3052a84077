// The tool's report code compiled into the test programs (its main renamed),
// so that a suite can compose, in its own process, the report of a file whose
// HDUs are all kept, and hold the tool to it: the tool releases each HDU as
// soon as its lines are composed.
#define main tessary_main
#include "../app/tessary.cpp"
#undef main

#include "fits_builder.h"

namespace fitsb {

run_result kept_report(const std::string& path) {
    run_result r;
    report.clear();
    try {
        fits_file file(path, RM_HEADERS_ONLY);
        report_file(file);
        r.out = report.text();
        r.status = 0;
    } catch (const std::exception& e) {
        r.err = "tessary: " + path + ": " + e.what() + "\n";
        r.status = 1;
    }
    report.clear();
    return r;
}

}  // namespace fitsb
