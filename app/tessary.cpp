// tessary - lists every header of a FITS file with typed values, the size of
// each HDU's data and the heap of each binary table.
//
// The tool's parts: run.cpp (the order of work), report.cpp (the lines of
// the report), report_text.cpp (the report's text and its writes); the
// library writes its numbers (src/number_text.cpp) and escapes its bytes
// (src/escaping.cpp).
#include "report.h"

int main(int argc, char* argv[]) { return tessary::run(argc, argv); }
