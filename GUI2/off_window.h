#pragma once
// Work that waits on a server (connecting, listing databases, schemas, tables
// and views, DROP DATABASE, a test query) never runs on the window thread: a
// host that does not answer would freeze the window until the connect timeout.
//
// run_off_window(window, fn) runs fn on a worker thread and returns its result
// (or rethrows its exception) on the calling thread once it ended. Meanwhile
// the window thread keeps serving events: `window` (the wizard, or a dialog)
// is disabled, the cursor shows that the program is busy, and the wizard
// ignores Cancel and its close box, so nothing else reaches the conversion
// object while the worker uses it. The end is delivered by a queued call, so
// the caller sees the result on its own thread.
//
// fn must not touch a widget; what it must ask the user crosses with
// wizard_shell::on_window_thread as the run's reports do. Called off the
// window thread (or without an application), fn simply runs in place.

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class QWidget;

void run_off_window_void(QWidget* window, const std::function<void()>& fn);

template <class F>
auto run_off_window(QWidget* window, F&& fn) -> std::invoke_result_t<F&>
{
    using result_t = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<result_t>) {
        run_off_window_void(window, [&fn] { fn(); });
    } else {
        std::optional<result_t> result;
        run_off_window_void(window, [&fn, &result] { result.emplace(fn()); });
        return std::move(*result);
    }
}
