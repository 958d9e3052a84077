// Times the tool on generated workloads, in turn with a reference run
// moments apart, since the machines are shared and absolute times drift:
// head -c of the file's header bytes. Prints medians of the times, of the
// paired ratios, of the tool's peak memory and of its page faults, and the
// tool's write calls (strace); and for the large headers, the instructions
// the whole tool runs per card under callgrind and its heap allocations per
// card under memcheck, which count the same on any machine (when valgrind is
// installed).
//
//   tool_bench [runs] [directory] [tool] [workload]   (defaults: 5 runs, /tmp, the built tessary, all)
//   tool_bench --write DIRECTORY                       (writes the workload files and keeps them)
#include "workloads.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct workload {
    std::string name;
    std::string path;
    std::uint64_t header_bytes;  // what head -c reads as the reference
    std::uint64_t cards = 0;     // header cards, for the instructions per card (0: not counted)
};

using clock_type = std::chrono::steady_clock;

// Writes `bytes`, then extends the file (sparsely) to `total` bytes.
void write_file(const std::string& path, const std::string& bytes, std::uint64_t total = 0) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (total > bytes.size()) std::filesystem::resize_file(path, total);
}

std::uint64_t blocks(std::uint64_t n) { return (n + 2879) / 2880 * 2880; }

// The workloads: their files are written by write_workloads.
std::vector<workload> make_workloads(const std::string& dir, bool write) {
    std::vector<workload> w;
    auto path = [&](const char* name) { return dir + "/tessary-bench-" + name + ".fits"; };

    fitsb::hdu tiny = fitsb::primary(8, {});
    tiny.end();
    w.push_back({"tiny", path("tiny"), 2880});
    if (write) write_file(w.back().path, tiny.bytes());

    fitsb::hdu prim = fitsb::primary(-32, {512, 512});
    bench::add_mixed_cards(prim, 30);
    prim.end().data(512 * 512 * 4, '\x40');
    fitsb::hdu table = fitsb::bintable(24, 1000, 0, {"1J", "1E", "2D"});
    table.string("TTYPE1", "ID").string("TTYPE2", "FLUX").string("TTYPE3", "POS").end().data(24000);
    w.push_back({"typical", path("typical"), 2 * 2880});
    if (write) write_file(w.back().path, prim.bytes() + table.bytes());

    fitsb::hdu image = fitsb::primary(8, {65536, 32768});
    image.end();
    w.push_back({"image-2GiB", path("image"), 2880});
    if (write) write_file(w.back().path, image.bytes(), 2880 + blocks(std::uint64_t{1} << 31));

    fitsb::hdu empty = fitsb::primary(8, {});
    empty.logical("EXTEND", true).end();
    fitsb::hdu big = fitsb::bintable(400, 1000000, 100000000, {"100E"});
    big.string("TTYPE1", "SPECTRUM").end();
    w.push_back({"table-400MB+heap-100MB", path("table"), 2 * 2880});
    if (write) write_file(w.back().path, empty.bytes() + big.bytes(), 2 * 2880 + blocks(500000000));

    // The large headers hold cards of every value type: each is a sequence
    // of extension headers of given lengths (in cards, END included) and
    // layouts (names of their own), cycled through.
    struct header_kind {
        int cards;
        const char* layout;
    };
    auto headers = [&](const char* name, int count, std::vector<header_kind> kinds,
                       void (*add_cards)(fitsb::hdu&, int, const std::string&) = bench::add_every_type_cards) {
        std::string bytes = empty.bytes();
        std::uint64_t header = 2880, cards = 5;
        for (int i = 0; i < count; ++i) {
            const header_kind& k = kinds[static_cast<std::size_t>(i) % kinds.size()];
            header += blocks(80 * static_cast<std::uint64_t>(k.cards));
            cards += static_cast<std::uint64_t>(k.cards);
            if (!write) continue;
            fitsb::hdu ext = fitsb::image(8, {});
            add_cards(ext, k.cards - 6, k.layout);
            bytes += ext.end().bytes();
        }
        w.push_back({name, path(name), header, cards});
        if (write) write_file(w.back().path, bytes);
    };
    headers("one-layout-repeated", 200, {{2000, "A"}});
    headers("5000-small-HDUs", 5000, {{41, "A"}});
    headers("three-layouts-in-turn", 200, {{2000, "S"}, {2000, "E"}, {2000, "D"}});
    headers("long-and-short", 200, {{2000, "A"}, {40, "B"}});
    headers("realistic-doubles", 200, {{2000, "R"}}, bench::add_double_cards);

    // One primary header of 720,000 cards: nothing of an earlier header to reuse.
    fitsb::hdu single = fitsb::primary(8, {});
    if (write) bench::add_every_type_cards(single, 720000 - 4, "P");
    w.push_back({"single-header-720000", path("single"), blocks(80 * 720000), 720000});
    if (write) write_file(w.back().path, single.end().bytes());
    return w;
}

// One finished run of a program with standard output to /dev/null: wall
// time, peak resident memory and page faults. posix_spawn shares no pages
// with this process, so the child's figures are its own.
struct measure {
    double seconds;
    double peak_mib;
    long faults;
};

measure run_once(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

    auto start = clock_type::now();
    pid_t pid = 0;
    int status = 0;
    struct rusage usage {};
    bool spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    if (spawned) ::wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "failed: " << args[0] << ' ' << args.back() << '\n';
        std::exit(1);
    }
    return {seconds, usage.ru_maxrss / 1024.0, usage.ru_minflt + usage.ru_majflt};
}

// What a valgrind tool (`options`) counts over the whole run of the tool on
// `w`, per header card: the number after `label` in its report; 0 without
// valgrind.
double valgrind_per_card(const std::string& options, const char* label, const std::string& tool, const workload& w) {
    if (w.cards == 0 || std::system("valgrind --version > /dev/null 2>&1") != 0) return 0;
    const std::string log = w.path + ".valgrind";
    const std::string command = "valgrind " + options + " '" + tool + "' '" + w.path + "' > /dev/null 2> '" + log + "'";
    double count = 0;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            const std::size_t at = line.find(label);
            if (at == std::string::npos) continue;
            std::string digits;
            for (const char* p = line.c_str() + at + std::strlen(label); *p == ',' || (*p >= '0' && *p <= '9'); ++p)
                if (*p != ',') digits += *p;
            count = std::atof(digits.c_str());
        }
    }
    std::filesystem::remove(log);
    return count / static_cast<double>(w.cards);
}

// Instructions the tool runs per header card, counted by callgrind (the
// same on any machine).
double instructions_per_card(const std::string& tool, const workload& w) {
    return valgrind_per_card("--tool=callgrind --callgrind-out-file=/dev/null", "Collected : ", tool, w);
}

// Heap allocations (malloc, calloc, realloc, operator new) per header card.
double allocations_per_card(const std::string& tool, const workload& w) {
    return valgrind_per_card("--tool=memcheck --leak-check=no", "total heap usage: ", tool, w);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The tool's write(2) calls to standard output on `w` (to a file), counted
// by strace; 0 without it.
long write_calls(const std::string& tool, const workload& w) {
    if (std::system("strace -o /dev/null true > /dev/null 2>&1") != 0) return 0;
    const std::string trace = w.path + ".strace";
    const std::string command = "strace -e trace=write -o '" + trace + "' '" + tool + "' '" + w.path + "' > '" +
                                w.path + ".report'";
    long calls = 0;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(trace);
        for (std::string line; std::getline(in, line);) calls += line.compare(0, 8, "write(1,") == 0;
    }
    std::filesystem::remove(trace);
    std::filesystem::remove(w.path + ".report");
    return calls;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--write") {  // the workload files alone, for profiling
        make_workloads(argv[2], true);
        return 0;
    }
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string tool_path = argc > 3 ? argv[3] : TESSARY_BINARY;
    const std::string only = argc > 4 ? argv[4] : "";
    // The files are written by a child process: a process's peak memory is
    // passed on to the programs it starts, so this one stays small.
    pid_t writer = ::fork();
    if (writer == 0) {
        make_workloads(dir, true);
        ::_exit(0);
    }
    ::waitpid(writer, nullptr, 0);
    std::vector<workload> workloads = make_workloads(dir, false);

    std::printf("%-22s %9s %9s %9s %9s %8s %7s %10s %11s\n", "workload", "tool ms", "head ms", "tool/head",
                "peak MiB", "faults", "writes", "instr/card", "allocs/card");
    for (const workload& w : workloads) {
        if (!only.empty() && w.name != only) continue;
        const std::vector<std::string> tool = {tool_path, w.path};
        const std::vector<std::string> head = {"head", "-c", std::to_string(w.header_bytes), w.path};
        // The two in turn, so that each ratio pairs runs made moments apart.
        std::vector<double> tool_s, head_s, to_head, peaks, faults;
        for (int i = 0; i < runs; ++i) {
            measure t = run_once(tool), h = run_once(head);
            tool_s.push_back(t.seconds);
            head_s.push_back(h.seconds);
            to_head.push_back(t.seconds / h.seconds);
            peaks.push_back(t.peak_mib);
            faults.push_back(static_cast<double>(t.faults));
        }
        const long writes = write_calls(tool_path, w);
        const double per_card = instructions_per_card(tool_path, w);
        const double allocs = allocations_per_card(tool_path, w);
        std::printf("%-22s %9.2f %9.2f %9.2f %9.1f %8.0f %7ld ", w.name.c_str(), median(tool_s) * 1e3,
                    median(head_s) * 1e3, median(to_head), median(peaks), median(faults), writes);
        if (per_card > 0)
            std::printf("%10.0f %11.3f\n", per_card, allocs);
        else
            std::printf("%10s %11s\n", "-", "-");
    }
    for (const workload& w : workloads) std::filesystem::remove(w.path);
    return 0;
}
