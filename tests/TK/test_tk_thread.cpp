// The worker thread: started, waited for, stopped by request, restarted; who
// deletes the functor; an escaping exception ends only its run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "TK/tk_exception.h"
#include "TK/tk_thread.h"

namespace {

using namespace std::chrono_literals;

// Counts its steps until stopped; counts its destructions.
struct counting_functor : tk_thread_functor {
    static inline std::atomic<int> destroyed{0};
    std::atomic<int> steps{0};
    std::atomic<bool> done_called{false};
    int limit;
    explicit counting_functor(int step_limit) : limit(step_limit) {}
    ~counting_functor() override { ++destroyed; }
    bool is_done() override { return limit >= 0 && steps.load() >= limit; }
    void wait() override
    {
        ++steps;
        wait_for_stop(1ms);
    }
    void on_done() override { done_called = true; }
};

class owning_thread : public tk_thread {
public:
    owning_thread() : tk_thread(true) {}
    int limit = 5;

protected:
    tk_thread_functor* create_functor() override { return new counting_functor(limit); }
};

TEST(tk_thread_test, run_ends_by_itself_and_is_waited_for)
{
    owning_thread t;
    t.start();
    EXPECT_TRUE(t.wait_for(5s));
    EXPECT_FALSE(t.is_running());
    auto* f = static_cast<counting_functor*>(t.get_functor());
    EXPECT_EQ(f->steps.load(), 5);
    EXPECT_TRUE(f->done_called.load());
}

TEST(tk_thread_test, endless_run_stops_on_request)
{
    owning_thread t;
    t.limit = -1;  // never done by itself
    t.start();
    EXPECT_FALSE(t.wait_for(30ms));
    EXPECT_TRUE(t.is_running());
    t.request_stop();
    EXPECT_TRUE(t.wait_for(5s));
    t.join();
    EXPECT_FALSE(t.is_running());
    EXPECT_TRUE(static_cast<counting_functor*>(t.get_functor())->done_called.load());
}

TEST(tk_thread_test, default_functor_runs_until_the_thread_is_destroyed)
{
    auto begin = std::chrono::steady_clock::now();
    {
        tk_thread t;
        t.start();
        EXPECT_FALSE(t.wait_for(20ms));
    }  // asked to stop and joined, not killed
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
}

TEST(tk_thread_test, starting_a_running_thread_is_an_internal_error)
{
    owning_thread t;
    t.limit = -1;
    t.start();
    try {
        t.start();
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), "Internal error: \ncode=746b5f74687265615c3932");  // tk_threa\92
    }
    EXPECT_THROW(t.cleanup(), tk_mail_assertion);
    t.request_stop();
}

TEST(tk_thread_test, restart_deletes_the_owned_functor_of_the_last_run)
{
    owning_thread t;
    int before = counting_functor::destroyed.load();
    t.start();
    ASSERT_TRUE(t.wait_for(5s));
    auto* first = t.get_functor();
    t.start();
    EXPECT_EQ(counting_functor::destroyed.load(), before + 1);
    EXPECT_NE(t.get_functor(), nullptr);
    ASSERT_TRUE(t.wait_for(5s));
    (void)first;
}

class borrowing_thread : public tk_thread {
public:
    explicit borrowing_thread(tk_thread_functor& f) : tk_thread(false), m_f(f) {}

protected:
    tk_thread_functor* create_functor() override { return &m_f; }

private:
    tk_thread_functor& m_f;
};

TEST(tk_thread_test, borrowed_functor_is_never_deleted)
{
    int before = counting_functor::destroyed.load();
    counting_functor f(3);
    {
        borrowing_thread t(f);
        t.start();
        ASSERT_TRUE(t.wait_for(5s));
        t.cleanup();
        EXPECT_EQ(t.get_functor(), nullptr);
    }
    EXPECT_EQ(counting_functor::destroyed.load(), before);
    EXPECT_EQ(f.steps.load(), 3);
}

struct throwing_functor : tk_thread_functor {
    void operator()() override { throw tk_exception("lost connection", 1); }
};

TEST(tk_thread_test, escaping_exception_ends_only_its_run)
{
    throwing_functor f;
    borrowing_thread t(f);
    t.start();
    ASSERT_TRUE(t.wait_for(5s));
    t.join();
    std::exception_ptr error = t.get_error();
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "lost connection");
    }
}

TEST(tk_converter_test, starts_empty_and_set_silent_changes_only_the_flag)
{
    tk_converter c;
    EXPECT_FALSE(c.is_finished());
    EXPECT_FALSE(c.is_silent());
    EXPECT_TRUE(c.get_source().empty());
    EXPECT_TRUE(c.get_destination().empty());
    EXPECT_TRUE(c.get_logfile().empty());
    c.set_silent(true);
    EXPECT_TRUE(c.is_silent());
    EXPECT_FALSE(c.is_finished());
    EXPECT_TRUE(c.get_source().empty());
}

}  // namespace
