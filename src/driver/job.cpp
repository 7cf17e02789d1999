#include "driver/job.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/breakthrough_loop.hpp"
#include "driver/checks.hpp"
#include "driver/distribution_loop.hpp"
#include "driver/deck_reader.hpp"
#include "driver/fp_mode.hpp"
#include "driver/grid_axes.hpp"
#include "driver/job_files.hpp"
#include "driver/progress.hpp"
#include "driver/run_stop.hpp"
#include "output/grid_files.hpp"
#include "output/listing.hpp"
#include "output/obs_writer.hpp"
#include "output/output_file.hpp"
#include "solution/solution_block.hpp"

namespace plumcor {

namespace {

[[noreturn]] void io_failure(const std::string& name, int err) {
    throw RunStop{name + ": " + std::strerror(err)};
}

// One line of standard input, without its line feed; the identifier is
// typed at the prompt.
std::string read_identifier_line() {
    std::string line;
    for (;;) {
        char c;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR) continue;
            io_failure("standard input", errno);
        }
        if (n == 0) {
            if (line.empty()) throw RunStop{"standard input: closed before the job identifier was typed"};
            return line;
        }
        if (c == '\n') return line;
        if (line.size() < 4096) line += c;  // only the first 80 characters count
    }
}

std::string read_whole_file(int fd, const std::string& name) {
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            io_failure(name, err);
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

GridAxes make_axes(const ProblemInput& in, std::int32_t nx, std::int32_t ny, std::int32_t nz) {
    GridAxes g;
    g.NX = nx;
    g.NY = ny;
    g.NZ = nz;
    // Each node from its index, never by a running sum.
    auto fill = [](std::vector<double>& axis, std::int32_t n, double start, double step) {
        axis.resize(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = start + static_cast<double>(i) * step;
    };
    fill(g.XAXIS, nx, in.XMIN, in.DX);
    fill(g.YAXIS, ny, in.YMIN, in.DY);
    fill(g.ZAXIS, nz, in.ZMIN, in.DZ);
    return g;
}

// Every file this run may have open; a stop closes whatever is open so that
// what was written stays on disk.
struct OpenFiles {
    std::optional<OutputFile> lst, obs, cnf, msh, asc, ucn;

    void close_all(std::vector<std::string>& errors) {
        for (auto* f : {&lst, &obs, &cnf, &msh, &asc, &ucn}) {
            if (!*f) continue;
            try {
                (*f)->close();
            } catch (const RunStop& e) {
                errors.push_back(e.message);
            }
            f->reset();
        }
    }
};

void close_file(std::optional<OutputFile>& f) {
    f->close();
    f.reset();
}

void run(OutputFile& console, OpenFiles& files) {
    write_banner(console);
    write_prompt(console);
    console.flush();  // the prompt must be on screen before the identifier is typed
    const std::string jobid = job_identifier(read_identifier_line());
    write_empty_line(console);
    const JobFiles names(job_stem(jobid));

    // A deck that is a pipe with no writer must not hang the run: open it
    // without waiting, then read it as any file.
    const int inp = ::open(names.INP.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (inp < 0) io_failure(names.INP, errno);
    ::fcntl(inp, F_SETFL, ::fcntl(inp, F_GETFL) & ~O_NONBLOCK);
    files.lst = OutputFile::open_result(names.LST);
    const ProblemInput in = read_deck(read_whole_file(inp, names.INP), names.INP);

    LIST_INPUT(*files.lst, in);
    CHECK_GAUSS(in.NGAUSS);
    LIST_SOURCE(*files.lst, in);
    CHECK_SOURCE(in.C0);
    CHECK_TRANSPORT(in);
    close_file(files.lst);

    if (in.NOBS >= 1) {
        files.obs = OutputFile::open_result(names.OBS);
        CHECK_OBS(in.NOBS, in.XOBS, in.tMIN, in.tMAX, in.DELt);
        breakthrough_count(in.tMIN, in.tMAX, in.DELt);  // refuses a count beyond 32 bits here
    }

    GridAxes grid;
    if (in.NT >= 1) {
        files.cnf = OutputFile::open_result(names.CNF);
        files.msh = OutputFile::open_result(names.MSH);
        files.asc = OutputFile::open_result(names.ASC);
        files.ucn = OutputFile::open_result(names.UCN);
        CHECK_GRID_LIMITS(in.XMIN, in.XMAX, in.DX, in.YMIN, in.YMAX, in.DY, in.ZMIN, in.ZMAX, in.DZ);
        // A count beyond 32 bits is simply too many for the checks.
        const std::int32_t nx = node_count(in.XMIN, in.XMAX, in.DX).value_or(INT32_MAX);
        const std::int32_t ny = node_count(in.YMIN, in.YMAX, in.DY).value_or(INT32_MAX);
        const std::int32_t nz = node_count(in.ZMIN, in.ZMAX, in.DZ).value_or(INT32_MAX);
        CHECK_GRID_COUNTS(in.NT, in.TIMES, nx, ny, nz);
        grid = make_axes(in, nx, ny, nz);
        WRITE_CNF(*files.cnf, grid, in.DX, in.DY, in.DZ);
        close_file(files.cnf);
        WRITE_MSH(*files.msh, grid, in.DX, in.DY, in.DZ, in.XMIN, in.YMIN);
        close_file(files.msh);
    }

    const SolutionBlock blk = make_solution_block(in);

    if (in.NOBS >= 1) {
        breakthrough_loop(console, *files.obs, in, blk);
        close_file(files.obs);
    }
    if (in.NT >= 1) {
        distribution_loop(console, *files.asc, *files.ucn, in, blk, grid);
        close_file(files.asc);
        close_file(files.ucn);
    }
}

// The stop line names files after what was typed, which may hold control
// characters; shown as \xNN they cannot break the line or the terminal.
void write_error_line(const std::string& message) {
    std::string line;
    for (unsigned char c : message) {
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 15];
        } else {
            line += static_cast<char>(c);
        }
    }
    line += "\r\n";
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere left to report to
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

int run_job() {
    enable_flush_to_zero();
    // A closed pipe on standard output is a write error to report, not a
    // signal that ends the run without a word.
    ::signal(SIGPIPE, SIG_IGN);
    OutputFile console = OutputFile::console(STDOUT_FILENO, "standard output");
    OpenFiles files;
    // A run that stops reports one reason: its own message, or else the
    // first failure met while closing what it leaves behind.
    std::vector<std::string> errors;
    int status = 0;
    try {
        run(console, files);
    } catch (const RunStop& stop) {
        status = stop.status;
        if (!stop.message.empty()) errors.push_back(stop.message);
        files.close_all(errors);
        console.write(stop.console_report);
    }
    try {
        console.close();
    } catch (const RunStop& e) {
        errors.push_back(e.message);
    }
    if (!errors.empty()) {
        write_error_line(errors.front());
        return 1;
    }
    return status;
}

}  // namespace plumcor
