#include "driver/job.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "driver/checks.hpp"
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
#include "solution/breakthrough_eval.hpp"
#include "solution/gauss.hpp"
#include "solution/grid_eval.hpp"
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

void breakthrough_loop(OutputFile& console, OutputFile& obs, const ProblemInput& in, const SolutionBlock& blk) {
    const std::int32_t nbtc = breakthrough_count(in.tMIN, in.tMAX, in.DELt);
    const auto nobs = static_cast<std::size_t>(in.NOBS);
    std::span<const double> xs(in.XOBS.data(), nobs), ys(in.YOBS.data(), nobs), zs(in.ZOBS.data(), nobs);
    write_btc_heading(console);

    // With an order the quadrature does not hold, the run must end right
    // after the progress line of the first time that needs it: one time
    // after another, as the points are evaluated one by one.
    const bool needs_quadrature = std::any_of(xs.begin(), xs.end(), [](double x) { return !(x <= 1.0e-6); });
    if (needs_quadrature && !gauss_order_supported(blk.NGAUSS)) {
        std::array<double, kMaxObs> cobs{};
        for (std::int32_t k = 1; k <= nbtc; ++k) {
            const double t = static_cast<double>(k - 1) * in.DELt + in.tMIN;
            write_btc_time(console, t);
            evaluate_points(blk, t, in.C0, xs, ys, zs, std::span<double>(cobs.data(), nobs));
            WRITE_OBS(obs, t, std::span<const double>(cobs.data(), nobs));
        }
        return;
    }

    // Otherwise the times are evaluated in blocks, vectorised and on both
    // cores, and written in order once each block is done.
    BreakthroughEvaluator evaluator(blk, xs, ys, zs);
    constexpr std::int32_t kBlock = 4096;
    std::vector<double> times(kBlock), values(static_cast<std::size_t>(kBlock) * nobs);
    for (std::int32_t k0 = 1; k0 <= nbtc; k0 += kBlock) {
        const auto m = static_cast<std::size_t>(std::min(kBlock, nbtc - k0 + 1));
        for (std::size_t j = 0; j < m; ++j) times[j] = static_cast<double>(k0 - 1 + static_cast<std::int32_t>(j)) * in.DELt + in.tMIN;
        evaluator.evaluate(std::span<const double>(times.data(), m), in.C0, std::span<double>(values.data(), m * nobs));
        for (std::size_t j = 0; j < m; ++j) {
            write_btc_time(console, times[j]);
            WRITE_OBS(obs, times[j], std::span<const double>(values.data() + j * nobs, nobs));
        }
    }
}

// Memory for the large arrays of the distribution loop, uninitialised, in
// 2 MiB pages where the system offers them: every 4 KiB page touched for the
// first time costs a fault, and on a virtual machine a dear one.
template <typename T>
class LargeArray {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);

public:
    explicit LargeArray(std::size_t n) : n_(n) {
        constexpr std::size_t kHuge = std::size_t{1} << 21;
        std::size_t bytes = std::max<std::size_t>(n * sizeof(T), 1);
        void* p = nullptr;
        if (bytes >= kHuge) {
            bytes = (bytes + kHuge - 1) / kHuge * kHuge;
            p = std::aligned_alloc(kHuge, bytes);
            if (p) ::madvise(p, bytes, MADV_HUGEPAGE);  // only a hint; ignored where unsupported
        } else {
            p = std::malloc(bytes);
        }
        if (!p) throw std::bad_alloc();
        p_.reset(static_cast<T*>(p));
    }
    T* data() const { return p_.get(); }
    std::size_t size() const { return n_; }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> p_;
    std::size_t n_;
};

// The distribution loop over a run of output times, as a pipeline of units:
// a unit is a slab of whole x columns of one output time. Computing a unit
// (its concentrations, and its .ASC node records as text) needs nothing from
// any other unit, so two threads compute different units at once. Committing
// a unit (the console lines and the .ASC time record when it opens a time,
// its node records, its part of CONC4 and, when it closes a time, the .UCN
// records) is done by the calling thread alone, strictly in unit order: every
// file and the console get exactly the bytes of a single-threaded run, in the
// same order, and a write that fails stops the run at the same byte.
class DistributionPipeline {
public:
    DistributionPipeline(OutputFile& console, OutputFile& asc, OutputFile& ucn, const ProblemInput& in,
                         const SolutionBlock& blk, const GridAxes& g, NodeLines& lines, const AscNodeRecords& records,
                         LargeArray<float>& conc4)
        : console_(console),
          asc_(asc),
          ucn_(ucn),
          in_(in),
          blk_(blk),
          g_(g),
          lines_(lines),
          records_(records),
          conc4_(conc4),
          column_(static_cast<std::size_t>(g.NY) * static_cast<std::size_t>(g.NZ)),
          cols_(slab_columns(g)) {}

    // Output times [n0, n1), none of which stops in the quadrature.
    void run(std::int32_t n0, std::int32_t n1) {
        units_.clear();
        for (std::int32_t n = n0; n < n1; ++n)
            for (std::int32_t i0 = 0; i0 < g_.NX; i0 += cols_) units_.push_back({n, i0, std::min(i0 + cols_, g_.NX)});
        if (units_.empty()) return;
        if (!slots_[0]) {
            for (auto& s : slots_) s = std::make_unique<Slot>(static_cast<std::size_t>(cols_) * column_);
        }
        // The tables of the times the first units need (later times reuse
        // them in turn).
        for (std::int32_t n = n0; n < n1 && n < n0 + static_cast<std::int32_t>(kSlots); ++n) {
            auto& tables = tables_[static_cast<std::size_t>(n) % kSlots];
            if (!tables) tables = std::make_unique<TimeTables>(blk_, g_);
        }
        next_ = 0;
        committed_ = 0;
        abort_ = false;

        // The helper computes units only; whatever happens to the run, it is
        // stopped and joined before this returns or throws.
        std::thread helper;
        if (units_.size() > 1 && std::thread::hardware_concurrency() > 1) {
            try {
                helper = std::thread([this] { help(); });
            } catch (const std::system_error&) {
                // No second thread to be had: the committer computes every unit.
            }
        }
        struct Join {
            DistributionPipeline& p;
            std::thread& t;
            ~Join() {
                {
                    std::lock_guard<std::mutex> lock(p.m_);
                    p.abort_ = true;
                }
                p.cv_.notify_all();
                if (t.joinable()) t.join();
            }
        } join{*this, helper};

        for (std::size_t c = 0; c < units_.size(); ++c) {
            Slot& slot = *slots_[c % kSlots];
            {
                std::unique_lock<std::mutex> lock(m_);
                // While its next unit is not ready, the committer computes
                // units too.
                while (!slot.ready) {
                    if (claimable()) {
                        const std::size_t u = next_++;
                        lock.unlock();
                        compute(u);
                        lock.lock();
                        slots_[u % kSlots]->ready = true;
                        cv_.notify_all();
                    } else {
                        cv_.wait(lock);
                    }
                }
            }
            commit(c, slot);
            {
                std::lock_guard<std::mutex> lock(m_);
                slot.ready = false;
                ++committed_;
            }
            cv_.notify_all();
        }
    }

private:
    // Concentrations per unit: enough that handing a unit over costs little
    // beside its nodes, few enough that three units' text stays small; and
    // at least four units per output time, so that even a small grid keeps
    // both threads busy.
    static constexpr std::int64_t kUnitNodes = 262144;
    // Units in flight: one being committed, one being computed by each thread.
    static constexpr std::size_t kSlots = 3;

    static std::int32_t slab_columns(const GridAxes& g) {
        const std::int64_t column = std::int64_t{g.NY} * g.NZ;
        const std::int64_t quarter = (std::int64_t{g.NX} + 3) / 4;
        return static_cast<std::int32_t>(std::max<std::int64_t>(1, std::min(kUnitNodes / column, quarter)));
    }

    struct Unit {
        std::int32_t n;       // output time
        std::int32_t i0, i1;  // x columns [i0, i1)
    };
    // The tables that every unit of one output time shares, set up by the
    // first unit of the time that gets to them. Time n uses entry n % kSlots:
    // the units being computed at any moment lie among kSlots consecutive
    // units, so they span at most kSlots consecutive times, and an entry is
    // only set up for a new time once every unit of its previous time has
    // been committed and nothing reads it any more.
    struct TimeTables {
        TimeTables(const SolutionBlock& blk, const GridAxes& g) : evaluator(blk, g.XAXIS, g.YAXIS, g.ZAXIS) {}
        std::mutex m;
        std::int32_t n = -1;  // the time set up, -1 for none (guarded by m)
        GridEvaluator evaluator;
    };
    struct Slot {
        explicit Slot(std::size_t nodes) : field(nodes), text(nodes * AscNodeRecords::kRecordBytes) {}
        LargeArray<double> field;  // the unit's concentrations, x fastest within the slab
        LargeArray<char> text;     // its .ASC node records
        std::size_t text_bytes = 0;
        std::exception_ptr error;  // what stopped its computation
        bool ready = false;        // computed, not yet committed (guarded by m_)
    };

    // Guarded by m_: the next unit may be computed once the unit that last
    // used its slot has been committed.
    bool claimable() const { return next_ < units_.size() && next_ < committed_ + kSlots; }

    void help() {
        enable_flush_to_zero();  // the mode is per thread
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return abort_ || next_ >= units_.size() || claimable(); });
            if (abort_ || next_ >= units_.size()) return;
            const std::size_t u = next_++;
            lock.unlock();
            compute(u);
            lock.lock();
            slots_[u % kSlots]->ready = true;
            cv_.notify_all();
        }
    }

    // Any thread; touches nothing but the unit's own slot.
    void compute(std::size_t u) noexcept {
        const Unit& unit = units_[u];
        Slot& slot = *slots_[u % kSlots];
        slot.error = nullptr;
        try {
            const std::int32_t cols = unit.i1 - unit.i0;
            const double t = in_.TIMES[static_cast<std::size_t>(unit.n)];
            TimeTables& tables = *tables_[static_cast<std::size_t>(unit.n) % kSlots];
            {
                std::lock_guard<std::mutex> lock(tables.m);
                if (tables.n != unit.n) {
                    tables.n = -1;  // until set_time has succeeded
                    tables.evaluator.set_time(t);
                    tables.n = unit.n;
                }
            }
            tables.evaluator.evaluate_columns(unit.i0, unit.i1, in_.C0,
                                              std::span<double>(slot.field.data(), static_cast<std::size_t>(cols) * column_));
            const char* end = records_.render(slot.text.data(), unit.i0, unit.i1, slot.field.data(), unit.i0, cols);
            slot.text_bytes = static_cast<std::size_t>(end - slot.text.data());
        } catch (...) {
            slot.error = std::current_exception();
        }
    }

    // The calling thread only, in unit order.
    void commit(std::size_t u, const Slot& slot) {
        const Unit& unit = units_[u];
        const double t = in_.TIMES[static_cast<std::size_t>(unit.n)];
        if (unit.i0 == 0) {
            // The progress lines of a time come before any of its records.
            write_distribution_time(console_, t);
            lines_.write(console_);
        }
        if (slot.error) std::rethrow_exception(slot.error);
        if (unit.i0 == 0) write_asc_time_record(asc_, t);
        asc_.write_through(std::string_view(slot.text.data(), slot.text_bytes));
        records_.copy_single(conc4_.data(), unit.i0, unit.i1, slot.field.data(), unit.i0, unit.i1 - unit.i0);
        if (unit.i1 == g_.NX) WRITE_UCN(ucn_, t, g_, std::span<const float>(conc4_.data(), conc4_.size()));
    }

    OutputFile& console_;
    OutputFile& asc_;
    OutputFile& ucn_;
    const ProblemInput& in_;
    const SolutionBlock& blk_;
    const GridAxes& g_;
    NodeLines& lines_;
    const AscNodeRecords& records_;
    LargeArray<float>& conc4_;
    const std::size_t column_;  // nodes of one x column
    const std::int32_t cols_;   // x columns per unit

    std::vector<Unit> units_;
    std::array<std::unique_ptr<Slot>, kSlots> slots_;
    std::array<std::unique_ptr<TimeTables>, kSlots> tables_;
    std::mutex m_;
    std::condition_variable cv_;
    std::size_t next_ = 0;       // first unit not yet claimed (guarded by m_)
    std::size_t committed_ = 0;  // units committed (guarded by m_)
    bool abort_ = false;         // the run is stopping (guarded by m_)
};

void distribution_loop(OutputFile& console, OutputFile& asc, OutputFile& ucn, const ProblemInput& in,
                       const SolutionBlock& blk, const GridAxes& g) {
    // The single-precision field of one output time, set aside once for the
    // whole run; the double values live only in the units of the pipeline.
    LargeArray<float> conc4(static_cast<std::size_t>(g.nodes()));
    NodeLines lines(g);
    const AscNodeRecords records(g);
    DistributionPipeline pipeline(console, asc, ucn, in, blk, g, lines, records, conc4);

    // With an order the quadrature does not hold, the run ends at the first
    // node that needs it, right after that node's progress line.
    std::int32_t stop_at_x = -1;
    if (!gauss_order_supported(blk.NGAUSS))
        for (std::int32_t i = 0; i < g.NX; ++i)
            if (g.XAXIS[static_cast<std::size_t>(i)] > 1.0e-6) {
                stop_at_x = i;
                break;
            }
    auto stops = [&](std::int32_t n) { return stop_at_x >= 0 && in.TIMES[static_cast<std::size_t>(n)] > 0; };

    write_distribution_heading(console);
    for (std::int32_t n = 0; n < in.NT;) {
        if (!stops(n)) {
            std::int32_t m = n + 1;
            while (m < in.NT && !stops(m)) ++m;
            pipeline.run(n, m);
            n = m;
            continue;
        }
        // The time whose evaluation stops the run, step by step as ever: its
        // progress lines up to the node that needs the quadrature, then the
        // evaluation, which ends the run there.
        const double t = in.TIMES[static_cast<std::size_t>(n)];
        write_distribution_time(console, t);
        lines.write(console, stop_at_x);
        std::vector<double> conc(static_cast<std::size_t>(g.nodes()));
        GridEvaluator(blk, g.XAXIS, g.YAXIS, g.ZAXIS).evaluate(t, in.C0, conc);
        WRITE_ASC(asc, t, g, conc, std::span<float>(conc4.data(), conc4.size()));
        WRITE_UCN(ucn, t, g, std::span<const float>(conc4.data(), conc4.size()));
        ++n;
    }
}

void run(OutputFile& console, OpenFiles& files) {
    write_banner(console);
    write_prompt(console);
    console.flush();  // the prompt must be on screen before the identifier is typed
    const std::string jobid = job_identifier(read_identifier_line());
    write_empty_line(console);
    const JobFiles names(job_stem(jobid));

    const int inp = ::open(names.INP.c_str(), O_RDONLY | O_CLOEXEC);
    if (inp < 0) io_failure(names.INP, errno);
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

void write_error_line(const std::string& message) {
    std::string line = message + "\r\n";
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
    std::vector<std::string> errors;
    int status = 0;
    try {
        run(console, files);
    } catch (const RunStop& stop) {
        status = stop.status;
        files.close_all(errors);
        console.write(stop.console_report);
        if (!stop.message.empty()) errors.insert(errors.begin(), stop.message);
    }
    try {
        console.close();
    } catch (const RunStop& e) {
        errors.push_back(e.message);
        status = 1;
    }
    for (const std::string& e : errors) write_error_line(e);
    return errors.empty() ? status : 1;
}

}  // namespace plumcor
