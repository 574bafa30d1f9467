#include "cloud/easy_handle_pool.h"

#include <mutex>
#include <vector>

namespace cloud {
namespace {

// Idle handles beyond this many are closed when given back: enough for the requests a host
// runs at once, without keeping the memory of a burst for the life of the process.
constexpr size_t kMaxIdleHandles = 8;

struct Pool {
    std::mutex mutex;
    std::vector<CURL*> idle;
    size_t made = 0;
    bool closed = false;  // the library is being unloaded: handles given back are closed
};

// Closes the idle handles when the library is unloaded (or the process exits).
struct PoolClosing {
    Pool* pool;
    ~PoolClosing() {
        std::vector<CURL*> idle;
        {
            std::lock_guard<std::mutex> hold(pool->mutex);
            pool->closed = true;
            idle.swap(pool->idle);
        }
        for (CURL* curl : idle) curl_easy_cleanup(curl);
    }
};

// Never destroyed, so a request still running on another thread at exit can give its handle
// back safely. Made on first use, after libcurl (and with it OpenSSL) is initialised, so the
// closing above runs before their own clean-up at exit.
Pool& ThePool() {
    static Pool* pool = new Pool;
    static PoolClosing closing{pool};
    return *pool;
}

}  // namespace

EasyHandleLease::EasyHandleLease() : m_curl(nullptr) {
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> hold(pool.mutex);
        if (!pool.idle.empty()) {
            m_curl = pool.idle.back();
            pool.idle.pop_back();
            return;
        }
    }
    m_curl = curl_easy_init();
    if (!m_curl) return;
    std::lock_guard<std::mutex> hold(pool.mutex);
    ++pool.made;
}

EasyHandleLease::~EasyHandleLease() {
    if (!m_curl) return;
    curl_easy_reset(m_curl);
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> hold(pool.mutex);
        if (!pool.closed && pool.idle.size() < kMaxIdleHandles) {
            pool.idle.push_back(m_curl);
            return;
        }
    }
    curl_easy_cleanup(m_curl);
}

size_t EasyHandlesMade() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> hold(pool.mutex);
    return pool.made;
}

size_t IdleEasyHandles() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> hold(pool.mutex);
    return pool.idle.size();
}

}  // namespace cloud
