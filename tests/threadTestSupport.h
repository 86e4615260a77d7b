// Helpers for tests about waiting threads: a check that a waiting thread sleeps, and a bounded
// wait that ends the test program when a call hangs.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <ostream>

#include <sys/resource.h>

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
