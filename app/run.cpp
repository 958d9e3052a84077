// tessary - the order of work: the file is read whole, each HDU's lines
// composed as soon as it has been read and checked, then the report is
// written; or one line says why not.
#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace tessary {

using namespace velmora;

int run(int argc, char* argv[]) {
#if defined(_WIN32)
    // Platform section: the report, the usage and messages are the same
    // bytes on every platform, each line ending in LF alone.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    if (argc < 2) {
        std::cout << "Usage: tessary <FITS-file>" << std::endl;
        return 4;
    }
    const std::string path = argv[1];
    // The report's standard output is unbuffered: each write below goes out
    // whole, as though flushed after it.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // The file read, left to the end of the process: the storage it keeps
    // for reuse (a long header's records and index) goes with the process
    // at once rather than record by record. One an earlier run left (the
    // fuzzer runs the tool again in one process) is let go first.
    static fits_file* read_file = nullptr;
    delete read_file;
    read_file = nullptr;

    // Every header is read before the first line is printed, so a bad file
    // leaves standard output empty. Each HDU's lines are composed as soon as
    // it has been read and checked, and its records are then released: what
    // is kept until the end is what will be printed. The report needs only
    // the data's sizes: the data is passed over (the file must still hold
    // it), never loaded.
    report_text report;
    try {
        read_file = new fits_file(path, RM_HEADERS_ONLY, [&](const hdu_entry& entry) { report_hdu(report, entry); },
                                  KM_RELEASE_HDUS);
    } catch (const std::exception& e) {
        write_message(error_line(path, e));
        return 1;
    }

    // A report that could not be written (a full disk, a closed output) is a
    // failure, not a listing.
    if (!report.write(stdout, output_is_terminal())) {
        write_message("tessary: " + path + ": cannot write the report: " + std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace tessary
