#pragma once
// Real fields of few significant digits (1PE12.3, E11.5 and the like) without
// the general conversion: nearly every number the program prints is one of
// them, most of them in the ASCII concentration file.
namespace plumcor {

// Renders the field exactly as render_real_exact would and returns true, or
// returns false without writing anything when the value or the field is not
// one it handles (the caller then renders it the general way). It handles
// zero and every normal value from about 1e-300 to DBL_MAX in fields of at
// most six significant digits; only values that lie extremely close to a
// rounding boundary between two printable numbers are left to the caller.
bool render_short_real(char* out, int w, int d, int scale, char letter, double v);

// The general renderer of a real field: digits from std::to_chars, which
// rounds the exact binary value with ties to even. render_real dispatches
// between the two; it is visible here so that the short path can be checked
// against it.
void render_real_exact(char* out, int w, int d, int scale, char letter, double v);

}  // namespace plumcor
