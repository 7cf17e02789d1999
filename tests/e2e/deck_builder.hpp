#pragma once
// Small input decks for end-to-end runs, one entry per line, with any entry
// replaceable by the text a test needs.
#include <map>
#include <string>
#include <vector>

namespace plumcor::testing {

struct DeckBuilder {
    std::string title = "Solvent plume test deck";
    std::map<std::string, std::string> v = {
        {"V", "0.1"},      {"ALPHAL", "10.0"}, {"ALPHATH", "1.0"}, {"ALPHATV", "0.1"}, {"DE", "8.64E-05"},
        {"THICK", "20.0"}, {"LAMBDA", "0.0"},  {"R", "1.0"},       {"NGAUSS", "20"},   {"NTERMS", "50"},
        {"WIDTH", "20.0"}, {"Z1", "0.0"},      {"Z2", "5.0"},      {"C0", "100.0"},    {"GAMMA", "0.002"},
        {"NOBS", "0"},     {"NT", "0"},
    };
    std::vector<std::string> points;  // one line per observation point
    std::string time_range = "0.0 100.0 50.0";
    std::string times;  // the TIMES line(s)
    std::string xgrid = "0.0 10.0 10.0", ygrid = "0.0 0.0 1.0", zgrid = "0.0 1.0 1.0";

    DeckBuilder& set(const std::string& name, const std::string& text) {
        v[name] = text;
        return *this;
    }
    DeckBuilder& with_points(std::vector<std::string> p, std::string range) {
        points = std::move(p);
        v["NOBS"] = std::to_string(points.size());
        time_range = std::move(range);
        return *this;
    }
    DeckBuilder& with_grid(int nt, std::string t, std::string x, std::string y, std::string z) {
        v["NT"] = std::to_string(nt);
        times = std::move(t);
        xgrid = std::move(x);
        ygrid = std::move(y);
        zgrid = std::move(z);
        return *this;
    }

    std::string text() const {
        std::string s = title + "\n";
        for (const char* name : {"V", "ALPHAL", "ALPHATH", "ALPHATV", "DE", "THICK", "LAMBDA", "R", "NGAUSS",
                                 "NTERMS", "WIDTH", "Z1", "Z2", "C0", "GAMMA", "NOBS"})
            s += v.at(name) + "\n";
        if (!points.empty()) {
            for (const std::string& p : points) s += p + "\n";
            s += time_range + "\n";
        }
        s += v.at("NT") + "\n";
        if (!times.empty()) s += times + "\n" + xgrid + "\n" + ygrid + "\n" + zgrid + "\n";
        return s;
    }
};

}  // namespace plumcor::testing
