#include "TK/tk_thread.h"

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"

// --- tk_thread_functor ---

void tk_thread_functor::operator()()
{
    while (!is_done() && !stop_requested()) wait();
    on_done();
}

void tk_thread_functor::wait() { wait_for_stop(std::chrono::milliseconds(100)); }

void tk_thread_functor::request_stop()
{
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_stop_signal.notify_all();
}

bool tk_thread_functor::wait_for_stop(std::chrono::milliseconds time)
{
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    return m_stop_signal.wait_for(lock, time, [this] { return stop_requested(); });
}

void tk_thread_entry(tk_thread_functor* functor)
{
    if (!functor) throw tk_mail_assertion("tk_threa", 149);
    (*functor)();
}

// --- tk_thread ---

struct tk_thread::run_state {
    std::atomic<bool> finished{false};
    std::mutex mutex;
    std::condition_variable ended;
    std::exception_ptr error;
};

tk_thread::tk_thread(bool owns_functor) : m_owns_functor(owns_functor) {}

tk_thread::~tk_thread()
{
    // Never killed: a run still going is asked to stop and waited for.
    if (is_running()) {
        tk_write_log(2, "tk_thread::dtor - stopping the running thread");
        request_stop();
    }
    join();
    try {
        cleanup();
    } catch (...) {
        // cannot happen after join; a destructor never throws
    }
}

bool tk_thread::is_running() const noexcept
{
    return m_thread.joinable() && m_state && !m_state->finished.load(std::memory_order_acquire);
}

void tk_thread::start()
{
    if (is_running()) throw tk_mail_assertion("tk_threa", 92);
    cleanup();
    tk_thread_functor* functor = create_functor();
    if (!functor) throw tk_mail_assertion("tk_threa", 105);
    m_functor = functor;
    if (m_owns_functor) m_owned_functor.reset(functor);
    auto state = std::make_shared<run_state>();
    m_state = state;
    try {
        m_thread = std::thread([functor, state] {
            try {
                tk_thread_entry(functor);
            } catch (const std::exception& e) {
                tk_write_log(3, "Worker thread ended by an exception: %s", e.what());
                state->error = std::current_exception();
            } catch (...) {
                tk_write_log(3, "Worker thread ended by an unknown exception");
                state->error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->finished.store(true, std::memory_order_release);
            }
            state->ended.notify_all();
        });
    } catch (const std::system_error& e) {
        // No thread could be made: the run simply does not happen.
        tk_write_log(3, "Cannot start a thread: %s", e.what());
        m_state.reset();
    }
}

void tk_thread::cleanup()
{
    if (is_running()) throw tk_mail_assertion("tk_threa", 71);
    if (m_thread.joinable()) m_thread.join();
    m_owned_functor.reset();
    m_functor = nullptr;
}

void tk_thread::request_stop()
{
    if (m_functor && is_running()) m_functor->request_stop();
}

void tk_thread::join()
{
    if (m_thread.joinable()) m_thread.join();
}

bool tk_thread::wait_for(std::chrono::milliseconds time)
{
    if (!m_state) return true;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->ended.wait_for(lock, time, [this] { return m_state->finished.load(); });
}

std::exception_ptr tk_thread::get_error() const
{
    if (!m_state || is_running()) return nullptr;
    return m_state->error;
}

tk_thread_functor* tk_thread::create_functor()
{
    m_owns_functor = true;
    return new tk_thread_functor();  // owned: m_owned_functor takes it in start()
}

// --- tk_converter ---

tk_converter::tk_converter() { tk_write_log(2, "tk_converter::ctor"); }

void tk_converter::set_logfile(const std::string& file_name)
{
    tk_write_log(1, "tk_convertor::set_logfile(%s)", file_name.c_str());
    tk_logger* logger = tk_logger::try_instance();
    if (!logger) return;
    m_logfile = file_name;
    if (file_name.empty()) {
        tk_write_log(1, "Filename is empty");
        return;
    }
    if (tk_is_path_exist(file_name)) throw tk_exception("Logfile name specifies an existing path.", 1);
    if (tk_is_file_exist1(file_name, tk_file_exists_mode) && !tk_is_file_exist1(file_name, tk_file_writable_mode))
        throw tk_exception("Logfile name specifies an existing read-only file.", 1);
    tk_file_name parts(file_name);
    std::string folder = parts.get_path();
    if (!tk_is_path_exist(folder))
        throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.", 1);
    if (!tk_has_file_access(folder, tk_generic_write))
        throw tk_exception("Cannot create log file. Make sure you have sufficient\n"
                           "privileges to create files in the directory.",
                           1);
    // The full path: a later change of the current directory must not move
    // the log.
    logger->set_file_name(parts.get_full_path());
    logger->enable(true);
}
