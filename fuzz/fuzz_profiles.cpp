// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the profiles file: the list of profiles, loading each listed profile into
// values the analysis can compute with, and save, load, save giving the same profile text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "settings/Profiles.h"

namespace {

using namespace kv;
using kv::fuzz::Require;

// Profiles are read and written one key at a time through files, each write flushed to disk;
// these live in a folder of the fuzzing process, in memory where the machine has /dev/shm.
const std::string& Folder() {
    static const std::string folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/kv-fuzz-profiles-XXXXXX";
        return std::string(mkdtemp(pattern.data()));
    }();
    // Registered once the folder's name exists, so it is removed before the name is destroyed.
    [[maybe_unused]] static const int removal =
        std::atexit([] { std::filesystem::remove_all(Folder()); });
    return folder;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Saves the profile's parameters into a fresh file and returns that file's text.
std::string SavedText(const AnalysisParameters& params, const std::string& path) {
    std::remove(path.c_str());
    PrivateProfileFile out(path);
    SaveProfile(out, "P", params);
    return ReadAll(path);
}

// Most profiles loaded per input: each load reads the file once per key.
constexpr size_t LoadsPerInput = 3;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = Folder() + "/profiles.ini", first = Folder() + "/first.ini";
    WriteAll(input, data, size);
    const PrivateProfileFile file(input);
    const std::vector<ProfileMenuItem> menu = ProfileMenu(file, "");
    Require(!menu.empty() && menu.back().None, "the list ends with <none>");
    for (size_t i = 0; i + 1 < menu.size() && i < LoadsPerInput; ++i) {
        IdleAnalysisHost host;
        TimestampClock clock;
        AnalysisCore core(host, clock);
        LoadProfile(file, menu[i].Name, core);
        core.RecomputeConstants();
        fuzz::RequireSaneSampleConstants(core.Derived);
        const std::string saved = SavedText(core.Params, first);
        AnalysisCore again(host, clock);
        LoadProfile(PrivateProfileFile(first), "P", again);
        Require(SavedText(again.Params, Folder() + "/second.ini") == saved,
                "save, load, save gives the same profile");
    }
    return 0;
}
