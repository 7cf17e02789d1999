// End to end: what the program does when the file system or a console stream
// fails under it. Every fault must end the run with exactly one line on
// standard error, "<file>: <the system's reason>" ended by CR LF, exit status
// 1, and nothing afterwards that looks like a finished run: no later file
// written, no later console lines.
//
// Full and read-only disks are real tmpfs mounts made by the test, so it has
// to run as root (as it does here and in CI); without the right to mount it
// is skipped, saying why.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "e2e/deck_builder.hpp"
#include "e2e/run_support.hpp"

namespace plumcor::testing {
namespace {

// The console up to the prompt, without the empty line that follows a typed
// identifier: what a run shows before it has read anything.
const std::string kBannerAndPrompt = kConsoleStart.substr(0, kConsoleStart.size() - 2);

std::string reason(int err) { return std::strerror(err); }

// Where each of the program's standard streams comes from or goes to: the
// captured text, a path, or nothing at all (closed).
struct Streams {
    enum class Kind { Text, Path, Closed };
    Kind in = Kind::Text;
    std::string in_path;  // Kind::Path
    Kind out = Kind::Text;
    std::string out_path;
    Kind err = Kind::Text;
    std::string err_path;

    static Streams stdin_closed() {
        Streams s;
        s.in = Kind::Closed;
        return s;
    }
    static Streams stdin_from(std::string path) {
        Streams s;
        s.in = Kind::Path;
        s.in_path = std::move(path);
        return s;
    }
    static Streams stdout_closed() {
        Streams s;
        s.out = Kind::Closed;
        return s;
    }
    static Streams stdout_to(std::string path) {
        Streams s;
        s.out = Kind::Path;
        s.out_path = std::move(path);
        return s;
    }
    static Streams stderr_closed() {
        Streams s;
        s.err = Kind::Closed;
        return s;
    }
    static Streams stderr_to(std::string path) {
        Streams s;
        s.err = Kind::Path;
        s.err_path = std::move(path);
        return s;
    }
};

// Runs the program with `cwd` as its folder. The captured streams live in a
// folder of their own, since the run's folder may be full or read-only.
RunResult run_in(const fs::path& cwd, const std::string& typed, const Streams& s = {}) {
    TempDir scratch;
    const fs::path in = scratch / "stdin", out = scratch / "stdout", err = scratch / "stderr";
    write_file(in, typed);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    auto route = [&fa](int fd, Streams::Kind kind, const fs::path& captured, const std::string& path, int flags) {
        if (kind == Streams::Kind::Closed)
            posix_spawn_file_actions_addclose(&fa, fd);
        else
            posix_spawn_file_actions_addopen(&fa, fd, kind == Streams::Kind::Path ? path.c_str() : captured.c_str(),
                                             flags, 0644);
    };
    route(0, s.in, in, s.in_path, O_RDONLY);
    route(1, s.out, out, s.out_path, O_WRONLY | O_CREAT | O_TRUNC);
    route(2, s.err, err, s.err_path, O_WRONLY | O_CREAT | O_TRUNC);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    const char* argv[] = {PLUMCOR_BINARY, nullptr};
    pid_t pid = 0;
    RunResult r;
    if (posix_spawn(&pid, PLUMCOR_BINARY, &fa, nullptr, const_cast<char**>(argv), environ) == 0) {
        // A run that blocks (on a FIFO, say) is a failure of its own, not a
        // reason for the test to hang: it is ended after a generous minute.
        int ws = 0;
        for (int waited_ms = 0; ::waitpid(pid, &ws, WNOHANG) == 0; waited_ms += 10) {
            if (waited_ms >= 60000) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &ws, 0);
                break;
            }
            ::usleep(10000);
        }
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    posix_spawn_file_actions_destroy(&fa);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

// A mount made for one test (a tmpfs, or a bind mount of a folder), undone
// whatever happens to the test.
class ScopedMount {
public:
    ScopedMount(fs::path dir, std::string options) : dir_(std::move(dir)), options_(std::move(options)) {
        fs::create_directories(dir_);
        if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options_.c_str()) == 0)
            mounted_ = true;
        else
            error_ = "cannot mount a tmpfs (needs root): " + reason(errno);
    }
    // A bind mount of an existing folder onto `dir`.
    ScopedMount(const fs::path& source, fs::path dir, bool) : dir_(std::move(dir)) {
        fs::create_directories(dir_);
        if (::mount(source.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr) == 0)
            mounted_ = true;
        else
            error_ = "cannot bind-mount a folder (needs root): " + reason(errno);
    }
    ~ScopedMount() {
        // Detached, so that a program still holding a file there cannot keep
        // the mount behind.
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    const fs::path& path() const { return dir_; }
    bool make_read_only(bool bind) {
        const unsigned long flags = MS_REMOUNT | MS_RDONLY | (bind ? MS_BIND : 0);
        if (::mount(nullptr, dir_.c_str(), nullptr, flags, bind ? nullptr : options_.c_str()) == 0) return true;
        error_ = "cannot remount read-only: " + reason(errno);
        return false;
    }

private:
    fs::path dir_;
    std::string options_;
    bool mounted_ = false;
    std::string error_;
};

#define SKIP_UNLESS_MOUNTED(m)                               \
    do {                                                     \
        if (!(m).mounted()) GTEST_SKIP() << (m).error();     \
    } while (0)

// One fault's outcome: one stop line naming the file and the reason.
void expect_one_stop_line(const RunResult& r, const std::string& file, int err) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, file + ": " + reason(err) + "\r\n");
}

std::int64_t size_of(const fs::path& p) {
    std::error_code ec;
    const auto n = fs::file_size(p, ec);
    return ec ? -1 : static_cast<std::int64_t>(n);
}

// A file cut short by a failed write must still end with a whole record:
// CR LF for a text file, a complete length-framed record for the layer file.
void expect_whole_records(const fs::path& p) {
    const std::string bytes = read_file(p);
    if (p.extension() != ".UCN") {
        EXPECT_TRUE(bytes.empty() || bytes.ends_with("\r\n")) << p << " ends inside a record";
        return;
    }
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        std::uint32_t n = 0;
        std::memcpy(&n, bytes.data() + at, 4);  // little-endian host
        at += 8 + n;
    }
    EXPECT_EQ(at, bytes.size()) << p << " ends inside a record";
}

// ---------------------------------------------------------------------------
// A disk that fills up while a result file is written.

constexpr std::int64_t kPage = 4096;  // tmpfs counts whole pages
std::int64_t pages(std::int64_t bytes) { return (bytes + kPage - 1) / kPage; }

// Byte sizes of the result files from their record layouts: an .ASC node
// record is 7 blanks and four 13-column fields (59 characters and CR LF),
// the time record 7 blanks and one field; an .UCN layer is a 44-byte header
// and NX*NY single-precision values, each record framed by two 4-byte counts.
std::int64_t asc_bytes(std::int64_t times, std::int64_t nodes) { return times * (20 + 2 + nodes * 61); }
std::int64_t ucn_bytes(std::int64_t times, std::int64_t nx, std::int64_t ny, std::int64_t nz) {
    return times * nz * ((44 + 8) + (4 * nx * ny + 8));
}

struct FullDiskCase {
    const char* what;
    DeckBuilder deck;
    std::int64_t disk_kib;
    std::string failing;                  // the file that meets the full disk
    std::vector<std::string> left_empty;  // files of later steps: opened, never written
    bool distribution_started;            // the console reached the grid loop
    std::int64_t ucn_size = -1;           // what the .UCN must hold whole, when known
};

TEST(FullDisk, TheFileThatMeetsItIsNamedAndNothingLaterIsWritten) {
    // Grids at t = 0 only: every value is 0 without any quadrature, so the
    // big files cost no computing time.
    DeckBuilder base;
    // 200 x 10 x 10 nodes: an .ASC of 1.22 MB on a disk of 256 kB.
    DeckBuilder big_asc = base;
    big_asc.with_grid(1, "0", "0 199 1", "0 9 1", "0 9 1");
    // One observation point on the source plane (no quadrature) and 40001
    // breakthrough times: an .OBS of 1.4 MB.
    DeckBuilder long_obs = base;
    long_obs.with_points({"0 0 2.5"}, "0 40000 1");
    long_obs.with_grid(1, "0", "0 0 1", "0 0 1", "0 0 1");
    // 200 x 100 x 1 nodes at t = 0: .ASC 1.22 MB, .UCN 80 kB. The disk holds
    // the listing, the grid description files and the .ASC, not the .UCN.
    DeckBuilder ucn_last = base;
    ucn_last.with_grid(1, "0", "0 199 1", "0 99 1", "0 0 1");
    const std::int64_t ucn_last_disk =
        (pages(4000) * 3 + pages(asc_bytes(1, 200 * 100)) + 2) * kPage / 1024;
    ASSERT_GT(ucn_bytes(1, 200, 100, 1), 2 * kPage);

    // 100 x 10 x 5 nodes at two times: the disk fills during the second
    // time's .ASC records, after the first time's layers went to the .UCN.
    DeckBuilder second_time = base;
    second_time.with_grid(2, "0 0", "0 99 1", "0 9 1", "0 4 1");

    const std::vector<FullDiskCase> cases = {
        {".ASC far beyond the disk", big_asc, 256, "RUN1.ASC", {"RUN1.UCN"}, true, -1},
        // The first time's layers are all in the .UCN: nothing computed
        // before the stop is lost.
        {".ASC of the second output time", second_time, 512, "RUN1.ASC", {}, true, ucn_bytes(1, 100, 10, 5)},
        {".OBS", long_obs, 256, "RUN1.OBS", {"RUN1.ASC", "RUN1.UCN"}, false, -1},
        {".UCN after a complete .ASC", ucn_last, ucn_last_disk, "RUN1.UCN", {}, true, -1},
    };
    for (const FullDiskCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ScopedMount disk(dir / "disk", "size=" + std::to_string(c.disk_kib) + "k,mode=0755");
        SKIP_UNLESS_MOUNTED(disk);
        write_file(disk.path() / "RUN1.INP", c.deck.text());
        const RunResult r = run_in(disk.path(), "RUN1\n");
        expect_one_stop_line(r, c.failing, ENOSPC);
        // The console ends with the progress line of the last time or node
        // reached; nothing follows the stop.
        EXPECT_TRUE(r.out.starts_with(kConsoleStart));
        const std::size_t last = r.out.rfind("\r\n", r.out.size() - 3);
        EXPECT_EQ(r.out.substr(last + 2, 1), "+") << "last console line: " << r.out.substr(last + 2);
        EXPECT_EQ(r.out.find("CALCULATING CONCENTRATION DISTRIBUTIONS") != std::string::npos, c.distribution_started);
        for (const std::string& later : c.left_empty) EXPECT_EQ(size_of(disk.path() / later), 0) << later;
        if (c.ucn_size >= 0) {
            EXPECT_EQ(size_of(disk.path() / "RUN1.UCN"), c.ucn_size);
        }
        // Whatever each file holds ends with a whole record.
        for (const char* ext : {".LST", ".OBS", ".CNF", ".MSH", ".ASC", ".UCN"})
            if (fs::exists(disk.path() / ("RUN1" + std::string(ext)))) {
                expect_whole_records(disk.path() / ("RUN1" + std::string(ext)));
            }
    }
}

// A stop that writes no line of its own (an order the quadrature does not
// hold ends the run with its report on standard output) while two result
// files still hold records back: closing them meets the full disk. The run
// still gives one line, the first failure.
TEST(FullDisk, ClosingAfterAStopReportsOnlyTheFirstFailure) {
    DeckBuilder deck;
    deck.set("NGAUSS", "7");
    // t = 0 needs no quadrature and its records stay held back; t = 5 stops.
    deck.with_grid(2, "0 5", "0 99 1", "0 9 1", "0 0 1");
    TempDir dir;
    // Four pages: the deck, the listing and the two grid description files.
    ScopedMount disk(dir / "disk", "size=16k,mode=0755");
    SKIP_UNLESS_MOUNTED(disk);
    write_file(disk.path() / "RUN1.INP", deck.text());
    const RunResult r = run_in(disk.path(), "RUN1\n");
    expect_one_stop_line(r, "RUN1.ASC", ENOSPC);
    EXPECT_NE(r.out.find("ERROR FLAG FROM SUBROUTINE DGAUSS"), std::string::npos);
}

// ---------------------------------------------------------------------------
// A folder the program may not write into. Root ignores permission bits, so
// the folder is a read-only mount: a tmpfs remounted read-only, or a
// read-only bind mount of an ordinary folder.

TEST(ReadOnlyFolder, TheListingCannotBeCreatedAndNothingElseHappens) {
    for (const bool bind : {false, true}) {
        SCOPED_TRACE(bind ? "read-only bind mount" : "read-only tmpfs");
        TempDir dir;
        const fs::path source = dir / "source";
        fs::create_directories(source);
        write_file(source / "RUN1.INP", DeckBuilder().with_grid(1, "0", "0 10 10", "0 0 1", "0 0 1").text());
        std::optional<ScopedMount> ro;
        if (bind) {
            ro.emplace(source, dir / "ro", true);
        } else {
            ro.emplace(dir / "ro", "size=64k,mode=0755");
            if (ro->mounted()) write_file(ro->path() / "RUN1.INP", read_file(source / "RUN1.INP"));
        }
        SKIP_UNLESS_MOUNTED(*ro);
        if (!ro->make_read_only(bind)) GTEST_SKIP() << ro->error();
        const RunResult r = run_in(ro->path(), "RUN1\n");
        expect_one_stop_line(r, "RUN1.LST", EROFS);
        EXPECT_EQ(r.out, kConsoleStart);
        EXPECT_FALSE(fs::exists(ro->path() / "RUN1.LST"));
    }
}

// The same folder with an old listing in it: it cannot be opened for
// writing either, and keeps its contents.
TEST(ReadOnlyFolder, AnOldListingIsKeptAsItWas) {
    TempDir dir;
    ScopedMount ro(dir / "ro", "size=64k,mode=0755");
    SKIP_UNLESS_MOUNTED(ro);
    write_file(ro.path() / "RUN1.INP", DeckBuilder().text());
    write_file(ro.path() / "RUN1.LST", "old listing\r\n");
    if (!ro.make_read_only(false)) GTEST_SKIP() << ro.error();
    const RunResult r = run_in(ro.path(), "RUN1\n");
    expect_one_stop_line(r, "RUN1.LST", EROFS);
    EXPECT_EQ(read_file(ro.path() / "RUN1.LST"), "old listing\r\n");
}

// ---------------------------------------------------------------------------
// A result file name taken by a folder.

TEST(ResultNameIsAFolder, EachResultFile) {
    DeckBuilder deck;
    deck.with_points({"10 0 2.5"}, "0 10 5");
    deck.with_grid(1, "0", "0 10 10", "0 0 1", "0 0 1");
    // Files are opened in the order LST; OBS; CNF, MSH, ASC, UCN, and the run
    // stops at the folder: the files opened before it exist (the listing
    // complete, the others empty), those after it do not.
    const std::vector<std::string> order = {".LST", ".OBS", ".CNF", ".MSH", ".ASC", ".UCN"};
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::string taken = "J" + order[at];
        SCOPED_TRACE(taken);
        TempDir dir;
        dir.write("J.INP", deck.text());
        fs::create_directory(dir / taken);
        const RunResult r = run_in(dir.path(), "J\n");
        expect_one_stop_line(r, taken, EISDIR);
        EXPECT_EQ(r.out, kConsoleStart);  // stopped before any loop
        EXPECT_TRUE(fs::is_directory(dir / taken));
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::string name = "J" + order[i];
            if (i == at) continue;
            if (i > at) {
                EXPECT_FALSE(dir.exists(name)) << name;
            } else if (i == 0) {
                EXPECT_EQ(records(dir.read(name)).size(), 48u) << name;
            } else {
                EXPECT_EQ(size_of(dir / name), 0) << name;
            }
        }
    }
}

// A FIFO in a result file's place with nobody reading it: the run must stop
// with the system's reason instead of waiting forever for a reader.
TEST(ResultNameIsAFifo, NobodyReadingStopsTheRun) {
    TempDir dir;
    dir.write("J.INP", DeckBuilder().text());
    ASSERT_EQ(::mkfifo((dir / "J.LST").c_str(), 0644), 0) << reason(errno);
    const RunResult r = run_in(dir.path(), "J\n");
    expect_one_stop_line(r, "J.LST", ENXIO);
    EXPECT_EQ(r.out, kConsoleStart);
}

// A result the user does not want, sent to /dev/null by a link: nothing to
// truncate there, and the run ends normally.
TEST(ResultNameIsADevice, ALinkToDevNullTakesTheRecords) {
    TempDir dir;
    DeckBuilder deck;
    deck.with_grid(1, "10", "0 10 10", "0 0 1", "0 0 1");
    dir.write("J.INP", deck.text());
    fs::create_symlink("/dev/null", dir / "J.ASC");
    const RunResult r = run_in(dir.path(), "J\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_symlink(dir / "J.ASC"));
    // Two nodes, one layer: a 44-byte header and two values, each framed.
    EXPECT_EQ(size_of(dir / "J.UCN"), (8 + 44) + (8 + 2 * 4));
}

// ---------------------------------------------------------------------------
// A deck that cannot be read. Root can read any ordinary file, so the
// faults are of other kinds: things a deck name can point to that open()
// refuses, and ones that open() accepts but read() fails on.

void bind_socket(const fs::path& p) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(p.native().size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, p.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << reason(errno);
    ::close(fd);  // the socket file stays
}

TEST(UnreadableDeck, OneLineNamingTheDeck) {
    enum class Fails { Open, Read };
    struct Case {
        const char* what;
        void (*make)(const fs::path& deck);
        int err;
        Fails when;
    } cases[] = {
        {"the deck is a folder", [](const fs::path& p) { fs::create_directory(p); }, EISDIR, Fails::Read},
        // Reading the first page of a process's own memory fails: nothing is
        // mapped at address 0.
        {"read() fails on the deck", [](const fs::path& p) { fs::create_symlink("/proc/self/mem", p); }, EIO,
         Fails::Read},
        {"the deck is a socket", [](const fs::path& p) { bind_socket(p); }, ENXIO, Fails::Open},
        {"the deck is a dangling link", [](const fs::path& p) { fs::create_symlink("gone.INP", p); }, ENOENT,
         Fails::Open},
        {"the deck is a link to itself", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }, ELOOP,
         Fails::Open},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        c.make(dir / "RUN1.INP");
        const RunResult r = run_in(dir.path(), "RUN1\n");
        expect_one_stop_line(r, "RUN1.INP", c.err);
        EXPECT_EQ(r.out, kConsoleStart);
        if (c.when == Fails::Open) {
            EXPECT_FALSE(dir.exists("RUN1.LST")) << "no file before the deck is open";
        } else {
            // The listing is opened right after the deck: it exists, empty.
            EXPECT_EQ(size_of(dir / "RUN1.LST"), 0);
        }
        for (const char* ext : {".OBS", ".CNF", ".MSH", ".ASC", ".UCN"}) EXPECT_FALSE(dir.exists(std::string("RUN1") + ext));
    }
}

TEST(UnreadableDeck, StemInAFolderThatDoesNotExist) {
    TempDir dir;
    const RunResult r = run_in(dir.path(), "nodir/RUN1\n");
    expect_one_stop_line(r, "nodir/RUN1.INP", ENOENT);
    EXPECT_EQ(r.out, kConsoleStart);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(UnreadableDeck, APipeWithNoWriterDoesNotHangTheRun) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "RUN1.INP").c_str(), 0644), 0) << reason(errno);
    const RunResult r = run_in(dir.path(), "RUN1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "RUN1.INP ends before TITLE\r\n");
}

TEST(UnreadableDeck, ControlCharactersOfTheNameAreShownNotSent) {
    TempDir dir;
    const RunResult r = run_in(dir.path(), "A\rB\x1b\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "A\\x0DB\\x1B.INP: " + reason(ENOENT) + "\r\n");
}

// ---------------------------------------------------------------------------
// Console streams that fail.

TEST(ConsoleStreams, IdentifierCannotBeRead) {
    struct Case {
        const char* what;
        Streams streams;
        std::string message;
    };
    TempDir dir;
    dir.write(".INP", DeckBuilder().text());  // what an empty stem would read
    const std::vector<Case> cases = {
        {"standard input closed", Streams::stdin_closed(),
         "standard input: " + reason(EBADF)},
        {"standard input is a folder", Streams::stdin_from("/"),
         "standard input: " + reason(EISDIR)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult r = run_in(dir.path(), "", c.streams);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message + "\r\n");
        EXPECT_EQ(r.out, kBannerAndPrompt);
        EXPECT_FALSE(dir.exists(".LST"));
    }
    // Input that ends before any line: one line saying so, about standard input.
    const RunResult r = run_in(dir.path(), "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("standard input: ")) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.find('\r'), r.err.size() - 2) << r.err;
    EXPECT_EQ(r.out, kBannerAndPrompt);
    EXPECT_FALSE(dir.exists(".LST"));
}

TEST(ConsoleStreams, StandardOutputThatCannotBeWritten) {
    struct Case {
        const char* what;
        Streams streams;
        int err;
    };
    const std::vector<Case> cases = {
        {"standard output on a full device", Streams::stdout_to("/dev/full"), ENOSPC},
        {"standard output closed", Streams::stdout_closed(), EBADF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("RUN1.INP", DeckBuilder().text());
        const RunResult r = run_in(dir.path(), "RUN1\n", c.streams);
        expect_one_stop_line(r, "standard output", c.err);
        // The prompt could not be shown, so nothing was read or written.
        EXPECT_FALSE(dir.exists("RUN1.LST"));
    }
}

// With standard error gone too there is nowhere to say why, but the exit
// status still tells the run failed.
TEST(ConsoleStreams, AStopWithoutStandardErrorStillEndsWithStatusOne) {
    for (const bool closed : {false, true}) {
        SCOPED_TRACE(closed ? "standard error closed" : "standard error on a full device");
        TempDir dir;
        dir.write("RUN1.INP", DeckBuilder().set("C0", "0").text());
        const RunResult r =
            run_in(dir.path(), "RUN1\n", closed ? Streams::stderr_closed() : Streams::stderr_to("/dev/full"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(records(dir.read("RUN1.LST")).size(), 48u);
    }
}

}  // namespace
}  // namespace plumcor::testing
