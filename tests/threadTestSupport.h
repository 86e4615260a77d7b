// Helpers for tests about waiting threads: a check that a waiting thread sleeps, a watch for a
// thread that blocks, and a bounded wait that ends the test program when a call hangs.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <ostream>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tavo::test {

// What the calling thread has used since the meter was made there. A thread that waits asleep
// uses neither processor time nor context switches; one that spins burns its time slices on
// an idle machine, or on a busy one gives them up again and again.
class ThreadUsageMeter {
  public:
    ThreadUsageMeter() : start_(Now()) {}

    // Call on the thread that made the meter.
    void Stop() {
        const rusage now = Now();
        cpuSeconds_ = Seconds(now.ru_utime) + Seconds(now.ru_stime) - Seconds(start_.ru_utime) -
                      Seconds(start_.ru_stime);
        contextSwitches_ = (now.ru_nvcsw + now.ru_nivcsw) - (start_.ru_nvcsw + start_.ru_nivcsw);
    }
    // A few switches and milliseconds are the waiting's own locks and wake-up.
    bool slept() const { return cpuSeconds_ < 0.05 && contextSwitches_ < 10; }

    friend std::ostream& operator<<(std::ostream& out, const ThreadUsageMeter& meter) {
        return out << meter.cpuSeconds_ << " s of processor time, " << meter.contextSwitches_
                   << " context switches";
    }

  private:
    static rusage Now() {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return usage;
    }
    static double Seconds(const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }

    rusage start_;
    double cpuSeconds_ = 0.0;
    long contextSwitches_ = 0;
};

// The calling thread's kernel id, for WaitUntilAsleep.
inline pid_t CurrentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// True while thread `tid` of this process sleeps in the kernel (state S), as a thread blocked on
// a lock, a condition variable or a future does.
inline bool IsAsleep(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t name_end = line.rfind(')');
    return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] == 'S';
}

// Threads of this process now. A test that must show that no thread is left to do something
// (deliver a frame, say) compares this with the count before that thread was started, instead
// of waiting some time for the thing not to happen.
inline size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Waits until thread `tid` (0 while it has not said yet) is found asleep on many looks in a row,
// or until `finished()` holds, and says which. A test that must show a call waiting for
// something watches the calling thread block instead of guessing how long the call would have
// needed to finish: the caller then checks that the call has not finished. Ends the program on
// a hang of `limit`.
template <typename Tid, typename Finished>
bool WaitUntilAsleep(const Tid& tid, Finished finished,
                     std::chrono::seconds limit = std::chrono::seconds(10)) {
    constexpr int kLooks = 20;
    const auto end = std::chrono::steady_clock::now() + limit;
    int asleep = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (finished()) {
            return false;
        }
        const pid_t id = tid.load();
        asleep = id != 0 && IsAsleep(id) ? asleep + 1 : 0;
        if (asleep >= kLooks) {
            return true;
        }
        std::this_thread::yield();
    }
    ADD_FAILURE() << "a thread neither finished nor blocked within " << limit.count() << " s";
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

// Waits for `future`; a call still running after `limit` is hung, and since its thread can be
// neither joined nor abandoned, the program ends here as a failure instead of at the test
// runner's time-out.
template <typename T>
T FinishesWithin(std::future<T>& future, std::chrono::seconds limit, const char* what) {
    if (future.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not finish within " << limit.count() << " s (hang)";
        std::fprintf(stderr, "%s hangs; ending the test program\n", what);
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
    return future.get();
}

}  // namespace tavo::test
