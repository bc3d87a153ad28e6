#pragma once
// The process's one-of-a-kind objects register themselves through this base:
// the first object of T built becomes the instance; destroying that object
// clears it. Accessors of an empty instance throw an internal error.

#include <atomic>

#include "TK/tk_exception.h"

template <class T>
class tk_singleton {
public:
    // Each throws tk_mail_assertion when no instance is registered; they differ
    // only in the line number that the internal-error text carries.
    static T* instance()
    {
        T* p = try_instance();
        if (!p) throw tk_mail_assertion("..\\TK/tk_singl", 64);
        return p;
    }
    static T* get_instance()
    {
        T* p = try_instance();
        if (!p) throw tk_mail_assertion("..\\TK/tk_singl", 71);
        return p;
    }
    // The instance or nullptr; never throws.
    static T* try_instance() noexcept
    {
        return static_cast<T*>(s_instance.load(std::memory_order_acquire));
    }
    static bool has_instance() noexcept { return try_instance() != nullptr; }

protected:
    tk_singleton() noexcept
    {
        tk_singleton* expected = nullptr;
        s_instance.compare_exchange_strong(expected, this, std::memory_order_acq_rel);
    }
    virtual ~tk_singleton()
    {
        // Only the registered object unregisters: a second, short-lived object
        // of T must not leave the first one unreachable.
        tk_singleton* expected = this;
        s_instance.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }
    tk_singleton(const tk_singleton&) = delete;
    tk_singleton& operator=(const tk_singleton&) = delete;

private:
    inline static std::atomic<tk_singleton*> s_instance{nullptr};
};
