// Blocks handed to a result file without a copy land between the buffered
// bytes exactly where they were written, and keep the file's rules: an old
// file is kept until the first bytes of the run, then holds only the run's,
// and a failure names the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/run_stop.hpp"
#include "output/grid_test_support.hpp"
#include "output/output_file.hpp"

namespace plumcor {
namespace {

// A block of n bytes whose content shows where it came from.
std::string block(char tag, std::size_t n) {
    std::string b(n, tag);
    for (std::size_t i = 0; i < n; i += 997) b[i] = static_cast<char>('0' + i % 10);
    return b;
}

struct Step {
    enum Kind { Write, Through, Record } kind;
    std::string bytes;
};

TEST(OutputFile, BlocksAndBufferedBytesKeepTheirOrder) {
    const std::size_t big = OutputFile::kFlushAt;
    const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
        {"a small block is buffered", {{Step::Write, "ab"}, {Step::Through, "cd"}, {Step::Record, "ef"}}},
        {"a large block after buffered bytes",
         {{Step::Record, "time"}, {Step::Through, block('a', 200000)}, {Step::Write, "z"}}},
        {"large blocks back to back", {{Step::Through, block('b', 70000)}, {Step::Through, block('c', 3 * big)}}},
        {"a full buffer, then a block",
         {{Step::Write, block('d', big - 1)}, {Step::Write, "xy"}, {Step::Through, block('e', 100000)}}},
        {"blocks between records", {{Step::Through, block('f', 65536)}, {Step::Record, "r"}, {Step::Through, block('g', 65535)}}},
    };
    test::ScratchDir dir;
    for (const auto& [what, steps] : cases) {
        SCOPED_TRACE(what);
        const std::string path = dir.file("RUN.ASC");
        std::string want;
        {
            OutputFile f = OutputFile::open_result(path);
            for (const Step& s : steps) {
                switch (s.kind) {
                    case Step::Write:
                        f.write(s.bytes);
                        want += s.bytes;
                        break;
                    case Step::Through:
                        f.write_through(s.bytes);
                        want += s.bytes;
                        break;
                    case Step::Record:
                        f.put_record(s.bytes);
                        want += s.bytes + "\r\n";
                        break;
                }
            }
            f.close();
        }
        const std::string got = test::read_bytes(path);
        EXPECT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
}

TEST(OutputFile, AnOldFileIsKeptUntilTheFirstBlockThenReplaced) {
    test::ScratchDir dir;
    const std::string path = dir.file("RUN.UCN");
    const std::string old = block('o', 300000);
    {
        OutputFile f = OutputFile::open_result(path);
        f.write(old);
        f.close();
    }
    {
        OutputFile f = OutputFile::open_result(path);
        f.close();  // opened, never written
    }
    EXPECT_TRUE(test::read_bytes(path) == old);
    const std::string first = block('n', 100000);  // shorter than the old contents
    {
        OutputFile f = OutputFile::open_result(path);
        EXPECT_TRUE(test::read_bytes(path) == old);
        f.write_through(first);
        f.close();
    }
    EXPECT_TRUE(test::read_bytes(path) == first);
}

TEST(OutputFile, AFailedBlockNamesTheFile) {
    // Every write to this device fails for want of space.
    OutputFile f = OutputFile::open_result("/dev/full");
    try {
        f.write_through(block('x', 200000));
        ADD_FAILURE() << "the write did not fail";
    } catch (const RunStop& stop) {
        EXPECT_EQ(stop.message, "/dev/full: No space left on device");
    }
}

}  // namespace
}  // namespace plumcor
