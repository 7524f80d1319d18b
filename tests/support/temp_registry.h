// A registry file of the test's own, named by VELMORA_REGISTRY while it lives: in a folder of its
// own, below sub (which the store has to make) if given.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempRegistry {
public:
    explicit TempRegistry(const std::string& sub = "") {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmora-reg-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / sub / "registry.reg").string();
        setenv("VELMORA_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() {
        unsetenv("VELMORA_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    const std::string& path() const { return path_; }
    std::filesystem::path folder() const { return std::filesystem::path(path_).parent_path(); }
    std::string Text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    inline static int counter_ = 0;
    std::filesystem::path dir_;
    std::string path_;
};
