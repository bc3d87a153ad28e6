#pragma once
// A temporary folder for one test, removed with everything in it when the object goes.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace test_env {

class scratch_dir {
public:
    explicit scratch_dir(const std::string& prefix)
    {
        std::string tmpl = "/tmp/" + prefix + "_XXXXXX";
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder under /tmp");
        path_ = tmpl;
    }
    ~scratch_dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace test_env
