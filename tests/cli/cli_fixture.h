// The fixture of the `quill` end-to-end tests: a scratch folder per test and
// the binary run through the shell, its standard output and error captured.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quill_cli_test {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out, err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quill-cli-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(getpid()));  // the whole suite runs beside its tests one by one
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Sample(const std::string& name) {
    return std::string(QUILL32_SOURCE_DIR "/samples/") + name;
  }

  // Runs quill with `args` (already quoted as needed); `before` is shell
  // text put in front of the command (a pipe into it, a umask).
  Result Quill(const std::string& args, const std::string& before = "") const {
    return Shell(before + std::string(QUILL_CLI) + " " + args);
  }
  // Runs a shell command; its standard error is captured too.
  Result Shell(const std::string& text) const {
    const std::string err_file = Path("stderr.txt");
    const std::string command = "{ " + text + "; } 2>" + err_file;
    Result r{};
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
      r.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(err_file);
    r.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return r;
  }
  // `count` hard links to a sample in the folder "in", as arguments.
  std::string Links(const std::string& sample, int count) const {
    fs::create_directories(Path("in"));
    std::string inputs;
    for (int i = 0; i < count; ++i) {
      const std::string name = Path("in/" + std::to_string(i) + ".yuv");
      fs::create_hard_link(Sample(sample), name);
      inputs += " " + name;
    }
    return inputs;
  }
  static std::vector<char> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::vector<char>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Files in the scratch folder other than the captured standard error.
  std::vector<std::string> Leftovers(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / sub)) {
      if (e.path().filename() != "stderr.txt") names.push_back(e.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
};

}  // namespace quill_cli_test
