// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier reads the four command keys five times a second for as long as it runs, and loads the whole file
// before each job; these measure both against a complete settings file.
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class CompleteFile {
public:
    CompleteFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kd5bench.XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        setenv("CORVO_HOME", dir_.c_str(), 1);
        ini_read_all();
        ini_check_all();
        ini_write_all();
    }
    ~CompleteFile() { std::filesystem::remove_all(dir_); }

private:
    std::string dir_;
};

void BM_ReadCommandKeys(benchmark::State& state) {
    CompleteFile file;
    for (auto _ : state) {
        ini_read_key(Key::Request);
        ini_read_key(Key::State);
        ini_read_key(Key::Answer);
        ini_read_key(Key::Error);
        benchmark::DoNotOptimize(g_settings.Request[0]);
    }
}
BENCHMARK(BM_ReadCommandKeys);

void BM_BulkLoad(benchmark::State& state) {
    CompleteFile file;
    for (auto _ : state) {
        ini_read_all();
        benchmark::DoNotOptimize(g_settings.user[2].SpecialSearch3[0]);
    }
}
BENCHMARK(BM_BulkLoad);

} // namespace

BENCHMARK_MAIN();
