// Any byte string as an input deck. read_deck must either return values that
// the rest of the run can use (an 80-character title, finite numbers) or stop
// with RunStop whose message is one console line naming the deck; nothing
// else may escape, and the sanitizers must stay quiet.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "driver/deck_reader.hpp"
#include "driver/run_stop.hpp"

namespace {

constexpr std::string_view kDeckName = "FUZZ.INP";

[[noreturn]] void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "property broken: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

void require_finite(double v, const char* name) {
    if (!std::isfinite(v)) fail("a value read from the deck is not finite", name);
}

void check_values(const plumcor::ProblemInput& in) {
    if (in.TITLE.size() != 80) fail("title is not 80 characters", in.TITLE);
    const std::pair<double, const char*> scalars[] = {
        {in.V, "V"},       {in.ALPHAL, "ALPHAL"}, {in.ALPHATH, "ALPHATH"}, {in.ALPHATV, "ALPHATV"},
        {in.DE, "DE"},     {in.THICK, "THICK"},   {in.LAMBDA, "LAMBDA"},   {in.R, "R"},
        {in.WIDTH, "WIDTH"}, {in.Z1, "Z1"},       {in.Z2, "Z2"},           {in.C0, "C0"},
        {in.GAMMA, "GAMMA"}, {in.tMIN, "tMIN"},   {in.tMAX, "tMAX"},       {in.DELt, "DELt"},
        {in.XMIN, "XMIN"}, {in.XMAX, "XMAX"},     {in.DX, "DX"},           {in.YMIN, "YMIN"},
        {in.YMAX, "YMAX"}, {in.DY, "DY"},         {in.ZMIN, "ZMIN"},       {in.ZMAX, "ZMAX"},
        {in.DZ, "DZ"},
    };
    for (const auto& [v, name] : scalars) require_finite(v, name);
    for (std::size_t i = 0; i < in.XOBS.size(); ++i) {
        require_finite(in.XOBS[i], "XOBS");
        require_finite(in.YOBS[i], "YOBS");
        require_finite(in.ZOBS[i], "ZOBS");
    }
    for (double t : in.TIMES) require_finite(t, "TIMES");
}

void check_message(const plumcor::RunStop& stop) {
    const std::string_view m = stop.message;
    if (m.find_first_of("\r\n") != std::string_view::npos) fail("message is more than one line", m);
    if (!m.starts_with(kDeckName)) fail("message does not start with the deck name", m);
    if (m.size() == kDeckName.size()) fail("message names the deck and nothing else", m);
    // A console line: the quoted token is shown with its odd bytes escaped.
    for (char c : m)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F)
            fail("message holds a control character", m);
    if (m.size() > 400) fail("message is far longer than one console line", m);
    if (stop.status != 1) fail("a deck stop must end the run with status 1", m);
    if (!stop.console_report.empty()) fail("a deck stop writes nothing to standard output", m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check_values(plumcor::read_deck(text, kDeckName));
    } catch (const plumcor::RunStop& stop) {
        check_message(stop);
    }
    return 0;
}
