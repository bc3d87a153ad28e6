#pragma once
// File names, the program's own path, a scoped change of the current
// directory, existence tests and access checks.
//
// Paths use '/'. A split path has no drive (the drive part is always empty);
// the directory runs from the root with a leading and a trailing '/', so
// drive + directory + name + extension gives the full path back. Paths have no
// length limit.

#include <cstdint>
#include <string>

// Desired-access rights for tk_has_file_access (the generic rights).
inline constexpr std::uint32_t tk_generic_read = 0x80000000u;
inline constexpr std::uint32_t tk_generic_write = 0x40000000u;
inline constexpr std::uint32_t tk_generic_execute = 0x20000000u;
inline constexpr std::uint32_t tk_generic_all = 0x10000000u;
#ifndef GENERIC_WRITE
inline constexpr std::uint32_t GENERIC_READ = tk_generic_read;
inline constexpr std::uint32_t GENERIC_WRITE = tk_generic_write;
inline constexpr std::uint32_t GENERIC_EXECUTE = tk_generic_execute;
inline constexpr std::uint32_t GENERIC_ALL = tk_generic_all;
#endif

// Modes of tk_is_file_exist1 / tk_is_file_exist2.
inline constexpr int tk_file_exists_mode = 0x4000;   // exists and is not a folder
inline constexpr int tk_file_writable_mode = 1;      // ... and is not read-only

// A path split into its parts, taken from its absolute form. An empty path
// stands for the program file, with an empty name.
class tk_file_name {
public:
    explicit tk_file_name(const std::string& path);
    explicit tk_file_name(const char* path);  // null is an internal error

    // drive + directory: the folder of the path with its trailing '/'.
    std::string get_path() const { return m_drive + m_dir; }
    // drive + directory + name + extension.
    std::string get_full_path() const { return m_drive + m_dir + m_name + m_ext; }
    const std::string& get_ext() const noexcept { return m_ext; }    // with its dot, or empty
    const std::string& get_drive() const noexcept { return m_drive; }  // always empty here
    const std::string& get_name() const noexcept { return m_name; }  // without extension
    const std::string& get_dir() const noexcept { return m_dir; }

private:
    void initialize(const char* path);

    std::string m_ext;
    std::string m_drive;
    std::string m_name;
    std::string m_dir;
};

// The wide twin of tk_file_name.
class tk_file_wname {
public:
    explicit tk_file_wname(const std::wstring& path);
    explicit tk_file_wname(const wchar_t* path);  // null is an internal error

    std::wstring get_path() const { return m_drive + m_dir; }
    std::wstring get_full_path() const { return m_drive + m_dir + m_name + m_ext; }
    const std::wstring& get_ext() const noexcept { return m_ext; }
    const std::wstring& get_drive() const noexcept { return m_drive; }
    const std::wstring& get_name() const noexcept { return m_name; }
    const std::wstring& get_dir() const noexcept { return m_dir; }

private:
    void initialize(const wchar_t* path);

    std::wstring m_ext;
    std::wstring m_drive;
    std::wstring m_name;
    std::wstring m_dir;
};

// The full path of the program file; an unreadable one is an internal error.
std::string tk_get_module_name();
std::wstring tk_get_module_wname();
// The program's folder, with its trailing '/'.
std::string tk_get_module_dir();

// Makes a folder the current directory for the object's lifetime; an empty
// path means the program's folder. The current directory is process-wide:
// use only around short steps on the owning thread.
class tk_temp_chdir {
public:
    explicit tk_temp_chdir(const std::string& path);
    ~tk_temp_chdir();
    tk_temp_chdir(const tk_temp_chdir&) = delete;
    tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

    bool is_changed() const noexcept { return m_changed; }

private:
    void initialize(const std::string& path);

    bool m_changed = false;
    std::string m_saved_dir;
};

// True when the path is a folder the process may enter (an empty path is the
// program's folder). Does not change the current directory.
bool tk_is_path_exist(const std::string& path);
bool tk_is_path_exist(const std::wstring& path);

// mode tk_file_exists_mode: the name exists and is no folder;
// mode tk_file_writable_mode: ... and is not read-only;
// any other mode: the file is created anew (emptied) as a probe; true, or
// tk_exception_ex (level 1) when it cannot be created.
bool tk_is_file_exist1(const std::string& name, int mode);
bool tk_is_file_exist2(const std::wstring& name, int mode);

// Whether the process's effective user and groups have the desired generic
// access on the file or folder; write access on a folder means files may be
// created in it. A missing name answers false.
bool tk_has_file_access(const std::string& name, std::uint32_t desired_access);
bool tk_has_file_access(const std::wstring& name, std::uint32_t desired_access);
