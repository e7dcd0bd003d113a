#pragma once
// Running a built program from an end-to-end test: its exit code and what it
// printed, captured through files in the test's own directory.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace tessellgrove::render::cli_support {

// How a run ended and what it printed.
struct RunResult {
    int exit_code = -1; // -1: not started, or ended by a signal
    std::string out;
    std::string err;
};

// A whole file's bytes; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `program` with `args` in the calling process's environment and waits
// for it. Standard output and error go to stdout.txt and stderr.txt in
// `work_dir`, which are read and then removed, leaving the directory as the
// program left it.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& work_dir) {
    const std::filesystem::path out_path = work_dir / "stdout.txt";
    const std::filesystem::path err_path = work_dir / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> owned{program};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : owned) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    RunResult result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return result;
}

} // namespace tessellgrove::render::cli_support
