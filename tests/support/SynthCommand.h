// SPDX-License-Identifier: GPL-3.0-or-later
// Runs kestrovane-synth in a scratch folder of its own and reads what it wrote there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

#ifdef KV_SYNTH_EXE

class SynthCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kv-synth-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(Dir_); }

    // Runs the command with the arguments; returns its exit status.
    int Run(const std::string& arguments) {
        const std::string command = std::string(KV_SYNTH_EXE) + " " + arguments + " >" + Dir_ +
                                    "/out.txt 2>" + Dir_ + "/err.txt";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Read(const std::string& name) const {
        std::ifstream in(Dir_ + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string Dir_;
};

#endif
