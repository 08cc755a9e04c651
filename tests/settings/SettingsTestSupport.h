// SPDX-License-Identifier: GPL-3.0-or-later
// Temporary folders, environment overrides, file helpers and an unprivileged runner for the
// settings and profile tests.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "analysis/AnalysisHost.h"
#include "analysis/AnalysisParameters.h"

namespace kv::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kv-settings-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        chmod(path_.c_str(), 0755); // reachable for the unprivileged runner
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with nullopt, removes) environment variables and puts them back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(
        std::initializer_list<std::pair<const char*, std::optional<std::string>>> vars) {
        for (const auto& [name, value] : vars) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline size_t FileCount(const std::string& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

// Runs `action` without the right to write into folders it does not own: as root in a child
// process that has switched to the user "nobody", otherwise directly. Returns its result.
inline bool RunUnprivileged(const std::function<bool()>& action) {
    if (geteuid() != 0) return action();
    const pid_t child = fork();
    if (child == 0) {
        const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        _exit(dropped ? (action() ? 0 : 1) : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Limits the size of files this process may write, so that writes fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG instead of killing us
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
};

// Sample counts the detector can work with: none negative, none beyond a beat.
inline void ExpectSaneSampleConstants(const DerivedConstants& d) {
    for (const int samples :
         {d.MuteSamples, d.PreSilenceSamples, d.LiftSamplesMin, d.LiftSamplesMax})
        EXPECT_TRUE(samples >= 0 && samples <= d.SamplesPerBeat) << samples;
}

// The measuring view as the analysis core sees it during a load: nothing runs.
class QuietHost : public AnalysisHost {
public:
    void StopMeasurement() override { ++Stops; }
    void StartMeasurement() override { ++Starts; }
    void StartTimer(int, unsigned) override {}
    void KillTimer(int) override {}
    void RefreshTrainBox() override { ++TrainBoxRefreshes; }
    int Stops = 0, Starts = 0, TrainBoxRefreshes = 0;
};

} // namespace kv::test
