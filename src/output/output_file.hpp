#pragma once
// A result file (or the console) written through a large buffer.
//
// A result file is opened without truncation: an existing file keeps its old
// contents until this run writes its first bytes to it, and from then on holds
// exactly this run's bytes. A file opened but never written is left as it was.
// Every failure (open, write, close) throws RunStop naming the file and the
// system's reason, e.g. "RUN1.ASC: No space left on device"; a write that
// fails part of the way leaves the file cut back to the end of the last whole
// flush, so that it ends with a whole record.
#include <sys/types.h>

#include <string>
#include <string_view>

#include "output/record_writer.hpp"

namespace plumcor {

class OutputFile final : public RecordSink {
public:
    // Creates the file when absent; keeps an existing one untouched for now.
    static OutputFile open_result(std::string path);
    // Wraps an already open descriptor (standard output, standard error);
    // never truncated and never closed.
    static OutputFile console(int fd, std::string name);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    void write(std::string_view bytes);
    // A block the caller has assembled itself (a column of records, a layer):
    // what is buffered goes out first, then a large block straight from the
    // caller's memory, without a copy; a small one is buffered like write().
    void write_through(std::string_view bytes);
    // A record: its characters, then carriage return and line feed.
    void put_record(std::string_view record) override;
    void flush();
    // Flushes and closes; reports any failure. Closing twice is harmless.
    void close();
    bool is_open() const { return fd_ >= 0; }
    const std::string& name() const { return name_; }

    // Direct access for writers that assemble large blocks themselves.
    std::string& buffer() { return buf_; }
    void flush_if_full() {
        if (buf_.size() >= kFlushAt) flush();
    }

    static constexpr std::size_t kFlushAt = 1u << 20;

private:
    OutputFile(int fd, std::string name, bool owned);
    [[noreturn]] void fail(int err) const;
    // Hands bytes to the system, truncating the old contents first if this
    // run has not written yet.
    void put_out(const char* p, std::size_t n);

    int fd_ = -1;
    std::string name_;
    bool owned_ = false;     // close the descriptor on close()
    bool regular_ = false;   // a regular file: truncated before the first write
    bool truncated_ = true;  // false until the first bytes of this run reach the file
    off_t committed_ = 0;    // bytes of whole flushes written so far
    std::string buf_;
};

}  // namespace plumcor
