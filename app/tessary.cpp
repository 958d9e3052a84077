// tessary - lists every header of a FITS file with typed values, the size of
// each HDU's data and the heap of each binary table.
//
// The tool's parts: run.cpp (the order of work), report.cpp (the lines of
// the report), report_text.cpp (the report's text and its writes); the
// library writes its numbers (src/number_text.cpp) and escapes its bytes
// (src/escaping.cpp).
#include "report.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

// Platform section: Windows hands the arguments over as the user typed them,
// in UTF-16; they go on in UTF-8, which the library takes for a path there,
// so that any file name the file system holds opens.
int wmain(int argc, wchar_t* argv[]) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(bytes > 0 ? static_cast<std::size_t>(bytes) : 1, '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &arg[0], bytes, nullptr, nullptr);
        arg.resize(arg.size() - 1);  // the terminating NUL
        args.push_back(arg);
    }
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    return tessary::run(argc, pointers.data());
}
#else
int main(int argc, char* argv[]) { return tessary::run(argc, argv); }
#endif
