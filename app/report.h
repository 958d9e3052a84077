// tessary - the report: what the tool prints for each HDU of a file, the
// line that reports a failure, and the whole tool over them (run.cpp).
#ifndef TESSARY_REPORT_H
#define TESSARY_REPORT_H

#include "fits.h"
#include "report_text.h"

#include <exception>
#include <string>

namespace tessary {

// One line per valued keyword, NAME[type]=value, in card order.
void list_keywords(report_text& out, const velmora::hdu_entry& entry);

// The lines of one HDU: its kind's title, its keywords, the size of its
// data, a binary table's heap, and an empty line.
void report_hdu(report_text& out, const velmora::hdu_entry& entry);

// The one line that reports a failure: the path, the HDU and card at fault
// when there are any, the error's text and what it says of the fault.
std::string error_line(const std::string& path, const std::exception& e);

// The whole tool: reads the file named by argv[1] and prints its report;
// returns the exit status (0 listed, 1 failed, 4 no file named).
int run(int argc, char* argv[]);

}  // namespace tessary

#endif  // TESSARY_REPORT_H
