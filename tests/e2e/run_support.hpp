#pragma once
// Runs the built program in a temporary folder and collects what it did.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace plumcor::testing {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Splits a text result file into its records; every record must end in CR LF.
inline std::vector<std::string> records(const std::string& text, bool* all_crlf = nullptr) {
    std::vector<std::string> out;
    bool ok = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        if (lf == std::string::npos) {
            ok = false;
            out.push_back(text.substr(pos));
            break;
        }
        if (lf == pos || text[lf - 1] != '\r') ok = false;
        out.push_back(text.substr(pos, lf - pos - (lf > pos && text[lf - 1] == '\r' ? 1 : 0)));
        pos = lf + 1;
    }
    if (all_crlf) *all_crlf = ok;
    return out;
}

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("plumcor-e2e-" + std::to_string(rd()) + std::to_string(::getpid()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    bool exists(const std::string& name) const { return fs::exists(path_ / name); }
    std::string read(const std::string& name) const { return read_file(path_ / name); }
    void write(const std::string& name, const std::string& bytes) const { write_file(path_ / name, bytes); }

    // Runs the program in this folder with `input` on standard input (or
    // standard input closed when `close_stdin`).
    RunResult run(const std::string& input, bool close_stdin = false) const {
        const fs::path in = path_ / ".stdin", out = path_ / ".stdout", err = path_ / ".stderr";
        write_file(in, input);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (close_stdin)
            posix_spawn_file_actions_addclose(&fa, 0);
        else
            posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&fa, path_.c_str());
        const char* argv[] = {PLUMCOR_BINARY, nullptr};
        pid_t pid = 0;
        RunResult r;
        if (posix_spawn(&pid, PLUMCOR_BINARY, &fa, nullptr, const_cast<char**>(argv), environ) == 0) {
            int ws = 0;
            waitpid(pid, &ws, 0);
            r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        }
        posix_spawn_file_actions_destroy(&fa);
        r.out = read_file(out);
        r.err = read_file(err);
        fs::remove(in);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

private:
    fs::path path_;
};

// The console text every run starts with, up to the empty line after the
// identifier.
inline const std::string kConsoleStart =
    "+PlumcorI - Analytical Transport from a patch source with decaying source concentration\r\n"
    "\r\n"
    " INPUT JOBID FOR FILE SPECIFICATION: \r\n"
    "\r\n";

}  // namespace plumcor::testing
