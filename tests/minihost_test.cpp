// The minihost command line's own failures: unreadable matrix files, a module
// that does not load and bad options exit with 2 and write nothing. (Its images,
// messages and exit code 1 answer the table of call cases in compare_builds.sh.)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "matrix_file.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode;
    std::string errorText;
};

class Minihost : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("minihost_test_" + std::to_string(::getpid()) + "_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::string path(const std::string& name) const { return (directory_ / name).string(); }

    std::string matrix(const std::string& name, std::uint32_t rows, std::uint32_t columns,
                       std::vector<double> values) {
        std::string error;
        EXPECT_TRUE(writeMatrixFile(path(name), Matrix{rows, columns, std::move(values)}, error));
        return path(name);
    }

    // The five inputs of the first worked example: samples 1..5, c = 1, s = 0, side 3.
    std::vector<std::string> workedExample(double interpCode = 1) {
        return {matrix("p", 5, 1, {1, 2, 3, 4, 5}), matrix("c", 1, 1, {1}), matrix("s", 1, 1, {0}),
                matrix("n", 1, 1, {3}), matrix("code", 1, 1, {interpCode})};
    }

    ToolRun run(const std::vector<std::string>& arguments) {
        std::string command = std::string(MINIHOST_PATH);
        for (const std::string& argument : arguments) command += " '" + argument + "'";
        command += " 2>'" + path("stderr") + "'";
        const int status = std::system(command.c_str());
        std::ifstream errors(path("stderr"));
        std::stringstream text;
        text << errors.rdbuf();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
    }

    fs::path directory_;
};

std::vector<std::string> operator+(std::vector<std::string> head,
                                   const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(Minihost, LoaderProblemsExitWithTwo) {
    std::vector<std::string> inputs = workedExample();
    std::ofstream(path("short"), std::ios::binary) << "abc";
    std::ofstream(path("truncated"), std::ios::binary).write("\x02\0\0\0\x02\0\0\0\0\0\0\0", 12);
    for (const char* bad : {"short", "truncated", "missing"}) {
        inputs[0] = path(bad);
        const ToolRun result =
            run(std::vector<std::string>{QUELMOR_MODULE_PATH, path("image")} + inputs);
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_NE(result.errorText.find("minihost:"), std::string::npos) << result.errorText;
        EXPECT_FALSE(fs::exists(path("image")));
    }
    EXPECT_EQ(run(std::vector<std::string>{path("no_such_module"), path("image")} + workedExample())
                  .exitCode,
              2);
    EXPECT_EQ(run({"--nargout"}).exitCode, 2);
    EXPECT_EQ(run({"--nargout", "x", QUELMOR_MODULE_PATH, path("image")}).exitCode, 2);
}

}  // namespace
