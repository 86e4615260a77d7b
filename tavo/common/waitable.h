// A value that threads change and wait on: the one way this library waits for another thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>

namespace tavo {

// A value guarded by one mutex, with a condition variable for threads that wait for it to
// reach a state. Any thread may call any operation; the callables given to them run under the
// mutex, so they must be short and must not call back into the same object.
//
// Ordering: every read and every change of the value happens under the one mutex, so all
// threads see the changes in one order, and whatever a thread wrote before a change (plain
// fields, atomics, anything) is visible to every thread that has since observed that change
// through Get, a wait or a change of its own. A waiter tests its condition under the mutex and
// the condition variable releases the mutex and sleeps in one step, so a change made between
// the test and the sleep cannot be missed. Changes wake the waiters while still holding the
// mutex: a waiter that sees the change it waited for may destroy the object at once, since the
// changing thread no longer touches it once it lets the mutex go.
template <typename T>
class Waitable {
  public:
    Waitable() = default;
    explicit Waitable(T initial) : value_(std::move(initial)) {}
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    // Applies `change(T&)` and wakes every waiter; returns what `change` returns.
    template <typename Change>
    decltype(auto) Update(Change&& change) {
        std::lock_guard lock(mutex_);
        struct Wake {
            std::condition_variable& changed;
            ~Wake() { changed.notify_all(); }
        } wake{changed_};
        return std::forward<Change>(change)(value_);
    }

    T Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    // Blocks until `ready(const T&)` holds.
    template <typename Ready>
    void WaitUntil(Ready&& ready) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready(std::as_const(value_)); });
    }

    // Blocks until `ready(const T&)` holds, then applies `change(T&)` before any other thread
    // can change the value, and wakes every waiter; returns what `change` returns.
    template <typename Ready, typename Change>
    decltype(auto) WaitThenUpdate(Ready&& ready, Change&& change) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready(std::as_const(value_)); });
        struct Wake {
            std::condition_variable& changed;
            ~Wake() { changed.notify_all(); }
        } wake{changed_};
        return std::forward<Change>(change)(value_);
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    T value_{};
};

}  // namespace tavo
