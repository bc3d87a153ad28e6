#pragma once
// A minimal worker thread running one work object (tk_thread_functor), and
// tk_converter, the functor base of the conversion object.
//
// Threads are never killed: ending a run early is a stop request that the
// functor's loop checks (stop_requested()); the owner then joins the thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class tk_thread_functor {
public:
    virtual ~tk_thread_functor() = default;
    // The body of the thread. Default: until is_done() or a stop request,
    // wait(); then on_done(). is_done() is asked first.
    virtual void operator()();
    virtual bool is_done() { return false; }
    // Default: sleeps 100 ms, waking early on a stop request.
    virtual void wait();
    virtual void on_done() {}

    // Cooperative stop: asks the run to end; a long run checks stop_requested().
    void request_stop();
    bool stop_requested() const noexcept { return m_stop.load(std::memory_order_acquire); }
    // Clears a stop request, for a functor that runs again.
    void reset_stop() noexcept { m_stop.store(false, std::memory_order_release); }

protected:
    // Sleeps up to the given time; returns early (true) on a stop request.
    bool wait_for_stop(std::chrono::milliseconds time);

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_stop_mutex;
    std::condition_variable m_stop_signal;
};

// Runs the functor on the calling thread; a null functor is an internal error.
void tk_thread_entry(tk_thread_functor* functor);

class tk_thread {
public:
    explicit tk_thread(bool owns_functor = false);
    // Asks a still running functor to stop and waits for its end. A derived
    // class whose members the functor uses must do the same (request_stop(),
    // join()) in its own destructor, before those members go.
    virtual ~tk_thread();
    tk_thread(const tk_thread&) = delete;
    tk_thread& operator=(const tk_thread&) = delete;

    // Starts a run with the functor from create_functor(). Starting while a
    // run is going, or a factory that gives none, is an internal error.
    void start();
    // Drops the handle and the functor of a finished run (an owned functor is
    // deleted); cleaning up a running thread is an internal error.
    void cleanup();

    bool is_running() const noexcept;
    // Asks the running functor to stop (no effect when idle).
    void request_stop();
    // Waits for the run to end (joins); no effect when idle.
    void join();
    // Waits up to the given time; true when the run has ended (or none runs).
    bool wait_for(std::chrono::milliseconds time);

    tk_thread_functor* get_functor() const noexcept { return m_functor; }
    // The exception that escaped the last run's functor, if any (it is traced
    // and ends that run only).
    std::exception_ptr get_error() const;

protected:
    // The functor for the next run. Default: a new tk_thread_functor owned by
    // the thread, which waits until asked to stop.
    virtual tk_thread_functor* create_functor();
    void set_owns_functor(bool owns) noexcept { m_owns_functor = owns; }

private:
    struct run_state;

    bool m_owns_functor;
    tk_thread_functor* m_functor = nullptr;
    std::unique_ptr<tk_thread_functor> m_owned_functor;
    std::thread m_thread;
    std::shared_ptr<run_state> m_state;
};

// Base of the conversion object: its settings and flags, and set_logfile.
class tk_converter : public tk_thread_functor {
public:
    tk_converter();
    ~tk_converter() override = default;

    virtual void set_silent(bool silent) { m_silent = silent; }
    bool is_silent() const noexcept { return m_silent; }

    // Set by the run when it ends; polled by the window thread.
    bool is_finished() const noexcept { return m_finished.load(std::memory_order_acquire); }
    void set_finished(bool finished) noexcept { m_finished.store(finished, std::memory_order_release); }

    const std::wstring& get_source() const noexcept { return m_source; }
    void set_source(std::wstring source) { m_source = std::move(source); }
    const std::wstring& get_destination() const noexcept { return m_destination; }
    void set_destination(std::wstring destination) { m_destination = std::move(destination); }
    const std::string& get_logfile() const noexcept { return m_logfile; }

    // Checks the trace log file name the user gave, keeps it and switches file
    // logging on. Does nothing without a logger; an empty name is kept and
    // leaves logging as it was. Throws tk_exception (level 1) for a folder
    // name, a read-only file, a missing folder or a folder without write
    // permission; the name is kept in the converter even then.
    void set_logfile(const std::string& file_name);

protected:
    std::atomic<bool> m_finished{false};
    bool m_silent = false;
    std::wstring m_source;
    std::wstring m_destination;
    std::string m_logfile;
};
