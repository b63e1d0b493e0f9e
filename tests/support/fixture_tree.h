// A directory tree made for one test and removed after it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class FixtureTree {
 public:
  FixtureTree() {
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() / ("quorbel-tree-" + std::to_string(random()));
    std::filesystem::create_directories(root_);
  }
  ~FixtureTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  FixtureTree(const FixtureTree&) = delete;
  FixtureTree& operator=(const FixtureTree&) = delete;

  std::string root() const { return root_.string(); }
  std::filesystem::path path(const std::string& inside) const { return root_ / inside.substr(1); }

  void write(const std::string& inside, const std::string& text) const {
    std::filesystem::create_directories(path(inside).parent_path());
    std::ofstream(path(inside), std::ios::binary) << text;
  }
  void link(const std::string& inside, const std::string& target) const {
    std::filesystem::create_directories(path(inside).parent_path());
    std::filesystem::create_symlink(target, path(inside));
  }

 private:
  std::filesystem::path root_;
};
