#pragma once
// Small helpers of the toolkit tests: a scratch folder removed afterwards, a
// logger that lives for one test, and whole-file reads.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "TK/tk_log.h"

namespace tk_test {

class scratch_dir {
public:
    scratch_dir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tk_test_XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~scratch_dir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace tk_test
