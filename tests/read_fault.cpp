// A read(2) that fails: preloaded into the tool, it makes every read of a
// descriptor above 2 fail with EIO once TESSARY_READ_FAULT_AFTER bytes have
// been read from such descriptors. Other programs (cat feeding a pipe) read
// as usual.
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" ssize_t read(int fd, void* buffer, size_t n) {
    using read_function = ssize_t (*)(int, void*, size_t);
    static const read_function real = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
    static long long budget = [] {
        const char* after = std::getenv("TESSARY_READ_FAULT_AFTER");
        return after && std::strcmp(program_invocation_short_name, "tessary") == 0 ? std::atoll(after) : -1;
    }();
    if (fd <= 2 || budget < 0) return real(fd, buffer, n);
    if (budget == 0) {
        errno = EIO;
        return -1;
    }
    if (static_cast<long long>(n) > budget) n = static_cast<size_t>(budget);
    const ssize_t got = real(fd, buffer, n);
    if (got > 0) budget -= got;
    return got;
}
