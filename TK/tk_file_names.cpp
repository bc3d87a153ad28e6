#include "TK/tk_file_names.h"

#include <fcntl.h>
#include <unistd.h>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_files.h"
#include "platform/pf_system.h"

namespace {

struct split_parts {
    std::string dir, name, ext;
};

// Splits an absolute path: directory up to and including the last '/', then
// the name and its extension (from the last dot; a leading dot belongs to the
// name, as in ".profile").
split_parts split_full_path(const std::string& full)
{
    split_parts parts;
    std::size_t slash = full.rfind('/');
    parts.dir = full.substr(0, slash + 1);
    std::string file = full.substr(slash + 1);
    std::size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        parts.ext = file.substr(dot);
        file.resize(dot);
    }
    parts.name = std::move(file);
    return parts;
}

// The full form of a path, or of the program file for an empty path.
std::string full_form(const std::string& path, const char* assert_file, int assert_line)
{
    if (path.empty()) return tk_get_module_name();
    auto full = pf_full_path(path);
    if (!full) throw tk_mail_assertion(assert_file, assert_line);
    return *full;
}

}  // namespace

// --- tk_file_name ---

tk_file_name::tk_file_name(const std::string& path)
{
    tk_write_log(1, "tk_file_name::ctor(%s)", path.c_str());
    initialize(path.c_str());
}

tk_file_name::tk_file_name(const char* path)
{
    tk_write_log(1, "tk_file_name::ctor(%s)", path ? path : "(null)");
    initialize(path);
}

void tk_file_name::initialize(const char* path)
{
    if (!path) throw tk_mail_assertion("tk_fname", 31);
    std::string text(path);
    split_parts parts = split_full_path(full_form(text, "tk_fname", 39));
    m_drive.clear();
    m_dir = std::move(parts.dir);
    m_ext = std::move(parts.ext);
    // An empty path describes the program's folder and extension, no name.
    if (!text.empty()) m_name = std::move(parts.name);
}

// --- tk_file_wname ---

tk_file_wname::tk_file_wname(const std::wstring& path)
{
    tk_write_wlog(1, L"tk_file_name::ctor(%s)", path.c_str());
    initialize(path.c_str());
}

tk_file_wname::tk_file_wname(const wchar_t* path)
{
    tk_write_wlog(1, L"tk_file_name::ctor(%s)", path ? path : L"(null)");
    initialize(path);
}

void tk_file_wname::initialize(const wchar_t* path)
{
    if (!path) throw tk_mail_assertion("tk_fname", 83);
    tk_write_wlog(1, L"tk_file_wname::initialize(%s)", path);
    std::string text = tk_unicode_to_utf8(path);
    split_parts parts = split_full_path(full_form(text, "tk_fname", 91));
    m_drive.clear();
    m_dir = tk_utf8_to_unicode(parts.dir);
    m_ext = tk_utf8_to_unicode(parts.ext);
    if (!text.empty()) m_name = tk_utf8_to_unicode(parts.name);
}

// --- program path ---

std::string tk_get_module_name()
{
    std::string path = pf_module_path();
    if (path.empty()) throw tk_mail_assertion("tk_utils", 119);
    return path;
}

std::wstring tk_get_module_wname()
{
    std::string path = pf_module_path();
    if (path.empty()) throw tk_mail_assertion("tk_utils", 132);
    return tk_utf8_to_unicode(path);
}

std::string tk_get_module_dir()
{
    tk_file_name name(tk_get_module_name());
    return name.get_path();
}

// --- tk_temp_chdir ---

tk_temp_chdir::tk_temp_chdir(const std::string& path)
{
    tk_write_log(2, "tk_temp_chdir::ctor");
    initialize(path.empty() ? tk_get_module_dir() : path);
}

void tk_temp_chdir::initialize(const std::string& path)
{
    tk_write_log(2, "tk_temp_chdir::initialize(%s)", path.c_str());
    tk_write_log(1, "Step #1");
    auto cwd = pf_current_dir();
    if (!cwd) {
        tk_write_log(1, "_getcwd failed");
        m_changed = false;
        return;
    }
    tk_write_log(1, "Step #2");
    m_saved_dir = std::move(*cwd);
    m_changed = pf_change_dir(path);
    if (!m_changed) tk_write_log(1, "_chdir failed");
}

tk_temp_chdir::~tk_temp_chdir()
{
    tk_write_log(2, "tk_temp_chdir::dtor");
    if (m_changed) (void)pf_change_dir(m_saved_dir);
    tk_write_log(2, "tk_temp_chdir::dtor - at the END");
}

// --- tests ---

bool tk_is_path_exist(const std::string& path)
{
    tk_write_log(1, "tk_is_path_exist(%s)", path.c_str());
    // "Can it be made the current directory": a folder with search permission.
    // Asked directly, so the process-wide current directory never moves.
    std::string folder = path.empty() ? tk_get_module_dir() : path;
    return pf_kind_of(folder) == pf_file_kind::directory && pf_has_access(folder, pf_access_execute);
}

bool tk_is_path_exist(const std::wstring& path)
{
    tk_write_wlog(1, L"tk_is_path_exist(%s)", path.c_str());
    return tk_is_path_exist(tk_unicode_to_ansi(path));
}

namespace {

bool file_exist(const std::string& name, int mode)
{
    if (mode == tk_file_exists_mode) return pf_kind_of(name) == pf_file_kind::file;
    if (mode == tk_file_writable_mode) return pf_kind_of(name) == pf_file_kind::file && !pf_is_read_only(name);
    int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) throw tk_exception_ex();
    ::close(fd);
    return true;
}

}  // namespace

bool tk_is_file_exist1(const std::string& name, int mode)
{
    tk_write_log(1, "tk_is_file_exist1(%s,%d)", name.c_str(), mode);
    return file_exist(name, mode);
}

bool tk_is_file_exist2(const std::wstring& name, int mode)
{
    tk_write_wlog(2, L"tk_is_file_exist2(%s,%08X)", name.c_str(), static_cast<unsigned>(mode));
    return file_exist(tk_unicode_to_utf8(name), mode);
}

bool tk_has_file_access(const std::string& name, std::uint32_t desired_access)
{
    pf_file_kind kind = pf_kind_of(name);
    if (kind == pf_file_kind::missing) return false;
    unsigned access = 0;
    if (desired_access & (tk_generic_read | tk_generic_all)) access |= pf_access_read;
    if (desired_access & (tk_generic_write | tk_generic_all)) {
        access |= pf_access_write;
        // Adding a file to a folder needs search permission as well.
        if (kind == pf_file_kind::directory) access |= pf_access_execute;
    }
    if (desired_access & (tk_generic_execute | tk_generic_all)) access |= pf_access_execute;
    return pf_has_access(name, access);
}

bool tk_has_file_access(const std::wstring& name, std::uint32_t desired_access)
{
    return tk_has_file_access(tk_unicode_to_utf8(name), desired_access);
}
