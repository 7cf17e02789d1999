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
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        throw RunStop{path + ": " + std::strerror(err)};
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw RunStop{path + ": " + std::strerror(EISDIR)};
    }
    return OutputFile(fd, std::move(path), true);
}

OutputFile OutputFile::console(int fd, std::string name) { return OutputFile(fd, std::move(name), false); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      name_(std::move(other.name_)),
      owned_(other.owned_),
      truncated_(other.truncated_),
      buf_(std::move(other.buf_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (owned_ && fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
        owned_ = other.owned_;
        truncated_ = other.truncated_;
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

void OutputFile::flush() {
    if (fd_ < 0 || buf_.empty()) return;
    if (!truncated_) {
        // The old contents go only now that this run has something to write.
        if (::ftruncate(fd_, 0) != 0) fail(errno);
        truncated_ = true;
    }
    const char* p = buf_.data();
    std::size_t left = buf_.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            buf_.clear();
            fail(err);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
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
