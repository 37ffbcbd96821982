// Starts each program many times, alternating, and reads what its first paint reports: the time
// from just before the start to the first paint, and the peak resident memory by then.
//   startup_bench RUNS PROGRAM...
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Sample {
    double ms = 0;
    long peakKb = 0;
};

bool runOnce(const char* program, Sample& out) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.emplace_back("ACCTSET_BENCH_FIRST_PAINT=1");
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program), nullptr};

    const long long start = nowNs();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return false;
    }
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    long long paintNs = 0;
    long peak = 0;
    const char* line = std::strstr(text.c_str(), "first-paint-ns ");
    if (!line || std::sscanf(line, "first-paint-ns %lld peak-kb %ld", &paintNs, &peak) != 2)
        return false;
    out.ms = static_cast<double>(paintNs - start) / 1e6;
    out.peakKb = peak;
    return true;
}

template <typename T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    const int programs = argc - 2;
    std::vector<std::vector<Sample>> samples(static_cast<size_t>(programs));

    // One warm-up each, so that the first program does not pay for a cold disk cache alone.
    for (int p = 0; p < programs; ++p) {
        Sample s;
        if (!runOnce(argv[2 + p], s)) {
            std::fprintf(stderr, "%s did not report its first paint\n", argv[2 + p]);
            return 1;
        }
    }
    for (int r = 0; r < runs; ++r) {
        for (int p = 0; p < programs; ++p) {
            Sample s;
            if (!runOnce(argv[2 + p], s)) {
                std::fprintf(stderr, "%s did not report its first paint\n", argv[2 + p]);
                return 1;
            }
            samples[static_cast<size_t>(p)].push_back(s);
        }
    }

    std::printf("%-24s %10s %10s %10s %12s\n", "program", "median ms", "min ms", "max ms", "peak RSS KB");
    const auto baseName = [&](int p) {
        const char* slash = std::strrchr(argv[2 + p], '/');
        return slash ? slash + 1 : argv[2 + p];
    };
    std::vector<double> medMs;
    std::vector<long> medKb;
    for (int p = 0; p < programs; ++p) {
        std::vector<double> ms;
        std::vector<long> kb;
        for (const Sample& s : samples[static_cast<size_t>(p)]) {
            ms.push_back(s.ms);
            kb.push_back(s.peakKb);
        }
        medMs.push_back(median(ms));
        medKb.push_back(median(kb));
        std::printf("%-24s %10.1f %10.1f %10.1f %12ld\n", baseName(p), medMs.back(),
                    *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
                    medKb.back());
    }
    for (int p = 1; p < programs; ++p) {
        std::printf("ratio %s / %s: time %.2fx, peak memory %.2fx\n", baseName(0), baseName(p),
                    medMs[0] / medMs[static_cast<size_t>(p)],
                    static_cast<double>(medKb[0]) / static_cast<double>(medKb[static_cast<size_t>(p)]));
    }
    return 0;
}
