#pragma once
// The program's mutex and scoped lock, written so that Clang's thread-safety
// analysis (-Wthread-safety) can check who holds which lock: a Mutex is a
// capability, a field marked GUARDED_BY(m) may only be touched with m held,
// and a function marked REQUIRES(m) may only be called with m held. With
// other compilers the marks expand to nothing and a Mutex is a std::mutex.
//
// `make check-locks` builds everything, tests included, with Clang and
// -Werror=thread-safety.

#include <mutex>

#if defined(__clang__)
#define TONVERO_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define TONVERO_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) TONVERO_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY TONVERO_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) TONVERO_THREAD_ATTRIBUTE(guarded_by(x))
#define REQUIRES(...) TONVERO_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) TONVERO_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) TONVERO_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TONVERO_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) TONVERO_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) TONVERO_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) TONVERO_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS TONVERO_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace tonvero {

class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }
    // Tells the analysis that the caller holds this mutex where it cannot see
    // it (a callback the holder runs through a function pointer). Checks nothing.
    void assertHeld() const ASSERT_CAPABILITY(this) {}

private:
    std::mutex m_;
};

// Holds a Mutex from construction to destruction; unlock() and lock() let go
// of it and take it again within the scope.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() {
        if (held_) mutex_.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() RELEASE() {
        mutex_.unlock();
        held_ = false;
    }
    void lock() ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }

private:
    Mutex& mutex_;
    bool held_ = true;
};

}  // namespace tonvero
