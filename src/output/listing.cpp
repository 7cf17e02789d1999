#include "output/listing.hpp"

#include <string_view>

namespace plumcor {

namespace {

constexpr Item kEmpty[] = {lit("")};

// A heading or banner line: ten blanks and the text.
void line(RecordSink& lst, std::string_view text) {
    const Item layout[] = {X(10), lit(text)};
    write_records(lst, layout, {});
}

void empty(RecordSink& lst, int count = 1) {
    for (int i = 0; i < count; ++i) write_records(lst, kEmpty, {});
}

// A value line: ten blanks, the 38-character label, the value.
void real_line(RecordSink& lst, std::string_view label, double v) {
    const Item layout[] = {X(10), lit(label), P(1), E(12, 3)};
    write_records(lst, layout, {v});
}

void int_line(RecordSink& lst, std::string_view label, std::int32_t v) {
    const Item layout[] = {X(10), lit(label), I(4)};
    write_records(lst, layout, {v});
}

constexpr Item kTitle[] = {X(10), A(70)};

}  // namespace

void LIST_INPUT(RecordSink& lst, const ProblemInput& in) {
    line(lst, "Plumcor");
    line(lst, "********");
    line(lst, "ANALYTICAL SOLUTION FOR 3-D SOLUTE TRANSPORT");
    line(lst, "FROM A PATCH SOURCE WITH EXPONENTIALLY-DECAYING CONCENTRATION");
    empty(lst);
    line(lst, "SEMI-INFINITE IN X: X>=0");
    line(lst, "INFINITE IN Y");
    line(lst, "SEMI-INFINITE IN Z: Z>=0");
    empty(lst, 3);

    write_records(lst, kTitle, {std::string_view(in.TITLE)});
    empty(lst, 2);

    line(lst, "INPUT DATA");
    line(lst, "==========");
    empty(lst);
    line(lst, "TRANSPORT PARAMETERS");
    line(lst, "--------------------");
    real_line(lst, "AVERAGE LINEAR GROUNDWATER VELOCITY = ", in.V);
    real_line(lst, "LONGITUDINAL DISPERSIVITY           = ", in.ALPHAL);
    real_line(lst, "HORIZONTAL TRANSVERSE DISPERSIVITY  = ", in.ALPHATH);
    real_line(lst, "VERTICAL TRANSVERSE DISPERSIVITY    = ", in.ALPHATV);
    real_line(lst, "EFFECTIVE DIFFUSION COEFFICIENT     = ", in.DE);

    real_line(lst, "AQUIFER THICKNESS (not used)        = ", in.THICK);
    empty(lst);

    line(lst, "SOLUTE PROPERTIES");
    line(lst, "-----------------");
    real_line(lst, "CONTAMINANT DECAY CONSTANT          = ", in.LAMBDA);
    real_line(lst, "RETARDATION FACTOR                  = ", in.R);

    empty(lst);
    line(lst, "SOLUTION PARAMETERS");
    line(lst, "-------------------");
    int_line(lst, "NUMBER OF GAUSS POINTS              = ", in.NGAUSS);
    int_line(lst, "NUMBER OF TERMS IN SERIES (not used)= ", in.NTERMS);

    empty(lst);
    line(lst, "PATCH DIMENSIONS");
    line(lst, "----------------");
    real_line(lst, "SOURCE WIDTH                        = ", in.WIDTH);
    real_line(lst, "BOTTOM OF SOURCE LOCATED AT Z1      = ", in.Z1);
    real_line(lst, "TOP OF SOURCE LOCATED AT Z2         = ", in.Z2);
    empty(lst);
}

void LIST_SOURCE(RecordSink& lst, const ProblemInput& in) {
    empty(lst);
    line(lst, "INFLOW CONCENTRATION HISTORY");
    line(lst, "----------------------------");
    real_line(lst, "INITIAL CONCENTRATION CO            = ", in.C0);
    real_line(lst, "SOURCE DECAY CONSTANT               = ", in.GAMMA);
    empty(lst);
}

}  // namespace plumcor
