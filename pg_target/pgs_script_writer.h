#pragma once
// The byte sink of a PostgreSQL script file. Every write and the close are checked: a
// script that lost bytes must never look like a finished one, so a failed open, write or
// close raises a level-1 tk_exception naming the file and the system's reason.
//
// Writes are buffered; a write that does not fit the buffer goes to the file at once, so
// large values pass straight through without being copied into memory again.
//
// The first failure is kept: bytes may be missing from the file from then on, so every later
// operation throws it again. A failure met where nothing may throw (a destructor that ends a
// COPY block) is thus reported by the next write or by close().
//
// Bytes are handed over as UTF-8. Once the script has declared another client encoding
// (set_encoding), every later write is converted to it; a text that encoding cannot hold is
// refused whole with a level-0 pgs_exception and nothing of it reaches the file.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class pgs_encoder;

class pgs_script_writer {
public:
    // Starts the script; the wide path is converted to UTF-8 for the file system. The bytes go
    // to a new file beside the destination, which takes the destination's place (a symbolic
    // link's target) only when close() succeeds, with the permissions of the file it replaces:
    // until then an existing destination keeps its contents. A character device (a sink such
    // as /dev/null) is written directly. Throws tk_exception (level 1) when the path names
    // anything else that is not a regular file (a folder, a pipe, a socket), or the new file
    // cannot be made.
    explicit pgs_script_writer(const std::wstring& path);
    // Closes (as close(), failures only traced) unless an exception is unwinding or a write
    // failed: then the unfinished script is discarded.
    ~pgs_script_writer();

    pgs_script_writer(const pgs_script_writer&) = delete;
    pgs_script_writer& operator=(const pgs_script_writer&) = delete;

    // Appends the bytes (UTF-8; converted to the script's encoding); throws tk_exception
    // (level 1) when the file refuses them, or when an earlier write had failed, and
    // pgs_exception (level 0) when the encoding cannot represent them (nothing is written).
    void write(std::string_view bytes);

    // From now on bytes are written in this encoding (a server encoding name, e.g. "LATIN1";
    // UTF8 turns conversion off). Throws tk_exception (level 1) for an unknown name.
    void set_encoding(const std::wstring& pg_name);
    // The encoder of the script's encoding, or null while the script is UTF-8, so that a
    // writer of rows can check a row before any of its bytes are written.
    pgs_encoder* encoder() const noexcept { return m_encoder.get(); }
    // Hands the buffered bytes to the file; throws as write.
    void flush();
    // Flushes, syncs to disk, closes and puts the script in the destination's place; throws as
    // write, also when the close or the rename fails (the unfinished script is then
    // discarded). Later writes fail.
    void close();
    // Drops the unfinished script: the destination keeps what it held. Later writes fail.
    void discard() noexcept;
    // Throws the first failure met so far, if there is one.
    void check() const;

    bool is_open() const { return m_fd >= 0; }
    const std::string& path_utf8() const { return m_path; }
    // Bytes handed to the writer so far (buffered or written).
    unsigned long long bytes_written() const { return m_total; }

private:
    void write_through(const char* data, std::size_t size);  // loops over short writes
    [[noreturn]] void fail(const char* what, int err);

    std::string m_path;        // UTF-8 path, for messages
    std::string m_target;      // the file the finished script replaces (a link resolved)
    std::string m_temp;        // the unfinished script beside it; empty once renamed or dropped
    int m_uncaught_at_open = 0;
    int m_fd = -1;
    std::string m_buffer;      // capacity kept; flushed when full
    std::string m_pending;     // message of the first failure; later operations repeat it
    unsigned long long m_total = 0;
    std::unique_ptr<pgs_encoder> m_encoder;  // null while the script is UTF-8
    std::string m_converted;                 // a write in the script's encoding (reused)
};
