#include "output/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "driver/run_stop.hpp"

namespace plumcor {

OutputFile::OutputFile(int fd, std::string name, bool owned)
    : fd_(fd), name_(std::move(name)), owned_(owned), truncated_(!owned) {
    buf_.reserve(kFlushAt + 4096);
}

OutputFile OutputFile::open_result(std::string path) {
    // Non-blocking only for the open itself: a FIFO in a result file's place
    // with nobody reading it must stop the run, not hang it.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        int err = errno;
        throw RunStop{path + ": " + std::strerror(err)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        throw RunStop{path + ": " + std::strerror(err)};
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int err = errno;
        ::close(fd);
        throw RunStop{path + ": " + std::strerror(err)};
    }
    OutputFile f(fd, std::move(path), true);
    // Only a regular file has old contents to drop and a length to cut back
    // to; a name that leads to a device (a link to /dev/null, say) or a FIFO
    // just takes the bytes.
    f.regular_ = S_ISREG(st.st_mode);
    return f;
}

OutputFile OutputFile::console(int fd, std::string name) { return OutputFile(fd, std::move(name), false); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      name_(std::move(other.name_)),
      owned_(other.owned_),
      regular_(other.regular_),
      truncated_(other.truncated_),
      committed_(other.committed_),
      buf_(std::move(other.buf_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (owned_ && fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
        owned_ = other.owned_;
        regular_ = other.regular_;
        truncated_ = other.truncated_;
        committed_ = other.committed_;
        buf_ = std::move(other.buf_);
    }
    return *this;
}

OutputFile::~OutputFile() {
    // Only reached without close() when the run is already ending for another
    // reason; keep what was written, but a second failure has nowhere to go.
    if (fd_ >= 0) {
        try {
            flush();
        } catch (...) {
        }
        if (owned_) ::close(fd_);
    }
}

void OutputFile::fail(int err) const { throw RunStop{name_ + ": " + std::strerror(err)}; }

void OutputFile::write(std::string_view bytes) {
    buf_.append(bytes);
    if (buf_.size() >= kFlushAt) flush();
}

void OutputFile::put_record(std::string_view record) {
    buf_.append(record);
    buf_.append("\r\n", 2);
    if (buf_.size() >= kFlushAt) flush();
}

void OutputFile::write_through(std::string_view bytes) {
    // Below this a copy costs less than a system call of its own.
    constexpr std::size_t kDirect = 64 * 1024;
    if (bytes.size() < kDirect) {
        write(bytes);
        return;
    }
    flush();
    if (fd_ < 0) return;
    put_out(bytes.data(), bytes.size());
}

void OutputFile::put_out(const char* p, std::size_t left) {
    if (!truncated_) {
        // The old contents go only now that this run has something to write;
        // a device or a FIFO has none to drop.
        if (regular_ && ::ftruncate(fd_, 0) != 0) fail(errno);
        truncated_ = true;
    }
    const auto whole = static_cast<off_t>(left);
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            // Cut back to the end of the last whole block, which ends with a
            // whole record; a second failure here changes nothing reported.
            if (regular_) (void)!::ftruncate(fd_, committed_);
            fail(err);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    committed_ += whole;
}

void OutputFile::flush() {
    if (fd_ < 0 || buf_.empty()) return;
    try {
        put_out(buf_.data(), buf_.size());
    } catch (...) {
        buf_.clear();
        throw;
    }
    buf_.clear();
}

void OutputFile::close() {
    if (fd_ < 0) return;
    try {
        flush();
    } catch (...) {
        if (owned_) ::close(fd_);
        fd_ = -1;
        throw;
    }
    int fd = std::exchange(fd_, -1);
    if (owned_ && ::close(fd) != 0) fail(errno);
}

}  // namespace plumcor
