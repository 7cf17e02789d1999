#include "driver/distribution_loop.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "driver/fp_mode.hpp"
#include "driver/progress.hpp"
#include "driver/run_stop.hpp"
#include "output/grid_files.hpp"
#include "solution/gauss.hpp"
#include "solution/grid_eval.hpp"

namespace plumcor {

namespace {

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
                        compute_next(lock);
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
            compute_next(lock);
        }
    }

    // Claims the next unit, computes it outside the lock and marks it ready;
    // called, and returns, with the lock held.
    void compute_next(std::unique_lock<std::mutex>& lock) {
        const std::size_t u = next_++;
        lock.unlock();
        compute(u);
        lock.lock();
        slots_[u % kSlots]->ready = true;
        cv_.notify_all();
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

}  // namespace

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

}  // namespace plumcor
