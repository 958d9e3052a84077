// Times the tool on generated workloads and compares it with reading the
// same files' header bytes (head -c) and whole contents (cat) in the same
// run, since the machines are shared and absolute times drift.
//
//   tool_bench [runs] [directory] [tool]   (defaults: 5 runs, /tmp, the built tessary)
#include "fits.h"
#include "workloads.h"

#include <algorithm>
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
};

struct measure {
    double seconds;
    double peak_mib;
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

    std::string many = empty.bytes();
    for (int i = 0; write && i < 5000; ++i) {
        fitsb::hdu ext = fitsb::image(16, {10, 10});
        bench::add_mixed_cards(ext, 33);
        many += ext.end().data(200).bytes();
    }
    w.push_back({"5000-HDUs", path("hdus"), 2880 + 5000 * 2880});
    if (write) write_file(w.back().path, many);

    std::string cards = empty.bytes();
    std::uint64_t header = 2880 + 200 * 56 * 2880;  // 2000 cards fill 56 blocks
    for (int i = 0; write && i < 200; ++i) {
        fitsb::hdu ext = fitsb::image(8, {});
        bench::add_mixed_cards(ext, 1994);
        cards += ext.end().bytes();
    }
    w.push_back({"400000-cards", path("cards"), header});
    if (write) write_file(w.back().path, cards);
    return w;
}

// Runs a program with standard output to /dev/null; wall time and peak
// resident memory. posix_spawn shares no pages with this process, so the
// child's peak is its own.
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
    return {seconds, usage.ru_maxrss / 1024.0};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median wall time and largest peak memory over `runs` runs.
measure run_median(const std::vector<std::string>& args, int runs) {
    std::vector<double> times;
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        measure m = run_once(args);
        times.push_back(m.seconds);
        peak = std::max(peak, m.peak_mib);
    }
    return {median(times), peak};
}

// Median time of reading and parsing every header in this process, without the report.
double parse_median(const std::string& path, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = clock_type::now();
        velmora::fits_file file(path, velmora::RM_HEADERS_ONLY);
        times.push_back(std::chrono::duration<double>(clock_type::now() - start).count());
    }
    return median(times);
}

// Report lines the tool prints for a file.
std::size_t report_lines(const std::string& path) {
    velmora::fits_file file(path, velmora::RM_HEADERS_ONLY);
    std::size_t lines = 0;
    for (const velmora::hdu_entry& entry : file.hdus_) {
        lines += 3;  // title, Data line, empty line
        for (const velmora::keyword_record& kr : entry.krs_) lines += kr.type_ == velmora::KWRT_VALUE;
    }
    return lines;
}

// Time of writing `lines` report-like lines to /dev/null with one flush per line.
double flush_cost(std::size_t lines) {
    std::ofstream out("/dev/null");
    auto start = clock_type::now();
    for (std::size_t i = 0; i < lines; ++i) out << "EXPOSURE[int32]=1500" << std::endl;
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[]) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string tool_path = argc > 3 ? argv[3] : TESSARY_BINARY;
    // The files are written by a child process, and everything measured in
    // this process comes after the runs: a process's peak memory is passed
    // on to the programs it starts, so this one stays small while they run.
    pid_t writer = ::fork();
    if (writer == 0) {
        make_workloads(dir, true);
        ::_exit(0);
    }
    ::waitpid(writer, nullptr, 0);
    std::vector<workload> workloads = make_workloads(dir, false);
    std::vector<measure> tools, heads, cats;
    for (const workload& w : workloads) {
        tools.push_back(run_median({tool_path, w.path}, runs));
        heads.push_back(run_median({"head", "-c", std::to_string(w.header_bytes), w.path}, runs));
        cats.push_back(run_median({"cat", w.path}, runs));
    }

    std::printf("%-24s %10s %10s %9s %9s %9s %10s %10s %10s %10s\n", "workload", "file MiB", "tool ms",
                "peak MiB", "head ms", "cat ms", "tool/head", "tool/cat", "parse ms", "flush ms");
    for (std::size_t i = 0; i < workloads.size(); ++i) {
        const workload& w = workloads[i];
        const measure& tool = tools[i];
        const measure& head = heads[i];
        const measure& cat = cats[i];
        double size = static_cast<double>(std::filesystem::file_size(w.path)) / (1 << 20);
        double parse = parse_median(w.path, runs);
        double flush = flush_cost(report_lines(w.path));
        std::printf("%-24s %10.1f %10.2f %9.1f %9.2f %9.2f %10.2f %10.3f %10.2f %10.2f\n", w.name.c_str(), size,
                    tool.seconds * 1e3, tool.peak_mib, head.seconds * 1e3, cat.seconds * 1e3,
                    tool.seconds / head.seconds, tool.seconds / cat.seconds, parse * 1e3, flush * 1e3);
    }
    for (const workload& w : workloads) std::filesystem::remove(w.path);
    return 0;
}
