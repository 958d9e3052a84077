// velmora::fits - the byte sources: memory read in place, and streams (a
// regular file, a pipe or device opened by path, a caller's std::istream).
#include "internal.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace velmora {

byte_source::~byte_source() = default;

namespace {

// What a stream is read ahead by at least when bytes must be kept, and
// what a look-ahead reads at a time (large reads go past the stream's
// buffer).
constexpr std::size_t keep_step = std::size_t{1} << 16;
constexpr std::size_t look_ahead_chunk = 16 * block_size;

// The text of a failed system call, or of an I/O error when none is known.
std::string reason(int err) { return std::generic_category().message(err != 0 ? err : EIO); }

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

// A buffer read in place: every look is a pointer into it.
class memory_source final : public byte_source {
public:
    explicit memory_source(memory_input bytes) : data_(static_cast<const char*>(bytes.data)) {
        sized_ = true;
        size_ = bytes.size;
    }

    std::size_t take(char* dest, std::size_t n) override {
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, left()));
        if (k != 0) std::memcpy(dest, data_ + position_, k);
        position_ += k;
        return k;
    }
    std::uint64_t pass(std::uint64_t n) override {
        position_ += std::min(n, left());
        return n;
    }
    const char* look_ahead(std::size_t offset, std::size_t n) override {
        return offset <= left() && n <= left() - offset ? data_ + position_ + offset : nullptr;
    }
    std::size_t peek(std::uint64_t offset, char* dest, std::size_t n, bool) override {
        if (offset >= left()) return 0;
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, left() - offset));
        std::memcpy(dest, data_ + position_ + offset, k);
        return k;
    }
    bool holds(std::uint64_t n, bool) override { return n <= left(); }

private:
    const char* data_;
};

// ---------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------

// An std::istream: a caller's, or a file this source opened. A regular file
// is sized and seekable: data passed over is seeked over, and a peek far
// ahead seeks there and back. Anything else is read front to back, data
// passed over read and dropped in bounded chunks.
//
// Bytes read ahead of the reading position are replayed in this order:
// `unseen_` bytes passed over without keeping them (data of a stream that
// the reader will only pass over), then ahead_[ahead_pos_, ahead_end_);
// after them the input goes on unless `ended_`.
class stream_source final : public byte_source {
public:
    // A caller's stream, never seeked. Its failures are read here, not
    // thrown by it: its exception mask is cleared while it is read.
    explicit stream_source(std::istream& in) : in_(&in), callers_mask_(in.exceptions()) {
        in.exceptions(std::ios::goodbit);
    }
    ~stream_source() override {
        if (file_) return;
        try {
            in_->exceptions(callers_mask_);
        } catch (const std::ios_base::failure&) {
            // The mask is back; the stream's state raised it, as the caller asked.
        }
    }
    // A file opened here; `size` is the measured length of a regular file.
    stream_source(std::unique_ptr<std::ifstream> file, bool regular, std::uint64_t size)
        : file_(std::move(file)), in_(file_.get()) {
        sized_ = regular;
        size_ = size;
    }

    std::size_t take(char* dest, std::size_t n) override {
        std::size_t done = static_cast<std::size_t>(take_ahead(dest, n));
        done += read_input(dest + done, n - done);
        position_ += done;
        return done;
    }

    std::uint64_t pass(std::uint64_t n) override {
        std::uint64_t done = take_ahead(nullptr, n);
        if (done < n) {
            if (sized_) {
                in_->seekg(static_cast<std::streamoff>(n - done), std::ios::cur);
                done = n;
            } else {
                done += drop_input(n - done);
            }
        }
        position_ += done;
        return done;
    }

    const char* look_ahead(std::size_t offset, std::size_t n) override {
        if (offset < unseen_) return nullptr;
        const std::size_t at = static_cast<std::size_t>(offset - unseen_);
        while (kept() < at + n)
            if (read_ahead(static_cast<std::size_t>(std::max<std::uint64_t>(look_ahead_chunk, at + n - kept()))) == 0)
                return nullptr;
        return ahead_.get() + ahead_pos_ + at;
    }

    std::size_t peek(std::uint64_t offset, char* dest, std::size_t n, bool keep_before) override {
        if (sized_ && offset >= unseen_ && offset - unseen_ + n > kept()) return read_at(offset, dest, n);
        if (!keep_before && offset > pending()) {
            // Everything before the peeked bytes is data the reader passes over.
            unseen_ += kept();
            ahead_pos_ = ahead_end_ = 0;
            unseen_ += drop_input(offset - unseen_);
            if (unseen_ < offset) return 0;
        }
        if (offset < unseen_) return 0;
        fill(offset + n);
        const std::uint64_t at = offset - unseen_;
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, kept() - std::min<std::uint64_t>(at, kept())));
        if (k != 0) std::memcpy(dest, ahead_.get() + ahead_pos_ + at, k);
        return k;
    }

    bool holds(std::uint64_t n, bool keep) override {
        if (sized_) return n <= left();
        if (n <= pending()) return true;
        if (keep) return fill(n);
        // Read and drop up to the end asked about. Reached, everything read
        // ahead is data passed over; not reached, the bytes dropped are gone.
        const std::uint64_t rest = n - pending();
        const std::uint64_t dropped = drop_input(rest);
        if (dropped < rest) return false;
        unseen_ += kept() + dropped;
        ahead_pos_ = ahead_end_ = 0;
        return true;
    }

private:
    std::uint64_t kept() const { return ahead_end_ - ahead_pos_; }
    std::uint64_t pending() const { return unseen_ + kept(); }

    // Reads up to `n` bytes from the input itself; fewer only where it ends.
    std::size_t read_input(char* dest, std::size_t n) {
        if (ended_ || n == 0) return 0;
        errno = 0;
        in_->read(dest, static_cast<std::streamsize>(n));
        const std::size_t got = static_cast<std::size_t>(in_->gcount());
        if (in_->bad()) cannot_read("cannot read file: " + reason(errno));
        if (got < n) {
            ended_ = true;
            if (sized_) in_->clear();  // a file is still seeked to peek
        }
        return got;
    }

    // Reads and drops up to `n` bytes of the input, a bounded chunk at a time.
    std::uint64_t drop_input(std::uint64_t n) {
        char chunk[32768];
        std::uint64_t done = 0;
        while (done < n) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof chunk));
            const std::size_t got = read_input(chunk, want);
            done += got;
            if (got < want) break;
        }
        return done;
    }

    // Reads up to `n` more bytes of the input ahead and keeps them; fewer
    // only where the input ends.
    std::size_t read_ahead(std::size_t n) {
        const std::size_t keep = static_cast<std::size_t>(kept());
        if (ahead_capacity_ - ahead_end_ < n) {
            // Room at the end: the kept bytes move to the front, into a
            // larger buffer when they and the new ones do not fit.
            if (ahead_capacity_ < keep + n) {
                const std::size_t capacity = std::max(keep + n, 2 * ahead_capacity_);
                std::unique_ptr<char[]> larger(new char[capacity]);
                if (keep != 0) std::memcpy(larger.get(), ahead_.get() + ahead_pos_, keep);
                ahead_ = std::move(larger);
                ahead_capacity_ = capacity;
            } else if (keep != 0) {
                std::memmove(ahead_.get(), ahead_.get() + ahead_pos_, keep);
            }
            ahead_pos_ = 0;
            ahead_end_ = keep;
        }
        const std::size_t got = read_input(ahead_.get() + ahead_end_, n);
        ahead_end_ += got;
        return got;
    }

    // Reads ahead, keeping every byte, until `n` bytes are pending; false
    // when the input ends first.
    bool fill(std::uint64_t n) {
        while (pending() < n)
            if (read_ahead(static_cast<std::size_t>(std::min<std::uint64_t>(n - pending(), keep_step))) == 0)
                return false;
        return true;
    }

    // Takes up to `n` of the bytes read ahead, in order, copying them to
    // `dest` unless it is null; returns how many.
    std::uint64_t take_ahead(char* dest, std::uint64_t n) {
        std::uint64_t done = std::min(n, unseen_);
        // Data passed over unseen, which the reader never looks at.
        if (dest) std::memset(dest, 0, static_cast<std::size_t>(done));
        unseen_ -= done;
        if (done < n && kept() != 0) {
            const std::size_t k = static_cast<std::size_t>(std::min(n - done, kept()));
            if (dest) std::memcpy(dest + done, ahead_.get() + ahead_pos_, k);
            ahead_pos_ += k;
            done += k;
            if (ahead_pos_ == ahead_end_) ahead_pos_ = ahead_end_ = 0;
        }
        return done;
    }

    // A regular file: up to `n` bytes `offset` bytes past the reading
    // position, read by seeking there and back. The file may have been read
    // to its end already (looking ahead): the bytes are read all the same.
    std::size_t read_at(std::uint64_t offset, char* dest, std::size_t n) {
        if (offset >= left()) return 0;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, left() - offset));
        const std::uint64_t resume = position_ + pending();
        in_->clear();
        in_->seekg(static_cast<std::streamoff>(position_ + offset));
        in_->read(dest, static_cast<std::streamsize>(n));
        const std::size_t got = static_cast<std::size_t>(in_->gcount());
        if (in_->bad()) cannot_read("cannot read file: " + reason(errno));
        in_->clear();
        in_->seekg(static_cast<std::streamoff>(resume));
        return got;
    }

    std::unique_ptr<std::ifstream> file_;  // the file opened by path, if any
    std::istream* in_;                     // what is read
    std::ios::iostate callers_mask_ = std::ios::goodbit;  // a caller's stream's exception mask
    bool ended_ = false;                   // the input delivered its last byte
    std::uint64_t unseen_ = 0;
    std::unique_ptr<char[]> ahead_;
    std::size_t ahead_pos_ = 0;
    std::size_t ahead_end_ = 0;
    std::size_t ahead_capacity_ = 0;
};

}  // namespace

std::unique_ptr<byte_source> byte_source::open(const std::string& path_text) {
    // Platform section: a path is UTF-8 on Windows (opened through the
    // wide-character calls, so that any name the file system holds opens),
    // the bytes as given elsewhere.
#if defined(_WIN32)
    const std::filesystem::path path = std::filesystem::u8path(path_text);
#else
    const std::string& path = path_text;
#endif
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec) cannot_read("cannot open file: " + ec.message());
    if (std::filesystem::is_directory(status)) cannot_read("cannot read file: " + reason(EISDIR));
    const bool regular = std::filesystem::is_regular_file(status);
    errno = 0;
    auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!file->is_open()) cannot_read("cannot open file: " + reason(errno));
    std::uint64_t size = 0;
    if (regular) {
        size = std::filesystem::file_size(path, ec);
        if (ec) cannot_read("cannot read file: " + ec.message());
    }
    return std::make_unique<stream_source>(std::move(file), regular, size);
}

std::unique_ptr<byte_source> byte_source::in_memory(memory_input bytes) {
    VELMORA_ASSERT(bytes.data != nullptr || bytes.size == 0);
    return std::make_unique<memory_source>(bytes);
}

std::unique_ptr<byte_source> byte_source::from_stream(std::istream& in) {
    // A stream that failed before it is read (an ifstream that could not be
    // opened) is no empty input; one at its end is.
    if (in.fail() && !in.eof()) cannot_read("cannot read file: the stream failed before it was read");
    return std::make_unique<stream_source>(in);
}

}  // namespace velmora
