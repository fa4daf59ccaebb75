#include "platform/name_lookup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

// One lookup, shared between the caller and the helper thread that runs it. The caller
// may stop waiting; whichever side lets go last frees it.
struct LOOKUP_JOB {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool found = false;
    in_addr address{};
    std::string host;
    HOST_RESOLVER resolve = nullptr;
};

namespace {

bool SystemResolve(const char* host, in_addr* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    bool found = false;
    if (getaddrinfo(host, nullptr, &hints, &result) == 0) {
        for (const addrinfo* a = result; a != nullptr; a = a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
                *address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
                found = true;
                break;
            }
        }
        freeaddrinfo(result);
    }
    return found;
}

std::atomic<HOST_RESOLVER> g_resolver{SystemResolve};

void RunLookup(const std::shared_ptr<LOOKUP_JOB>& job)
{
    in_addr address{};
    const bool found = job->resolve(job->host.c_str(), &address);
    std::lock_guard<std::mutex> guard(job->lock);
    job->found = found;
    job->address = address;
    job->done = true;
    job->finished.notify_all();
}

} // namespace

bool LookupHostIPv4(const char* host, int timeoutMs, in_addr* address)
{
    HOST_LOOKUP lookup;
    lookup.Start(host);
    return lookup.Wait(timeoutMs, address) == HOST_LOOKUP::FOUND;
}

void HOST_LOOKUP::Start(const char* host)
{
    m_pJob.reset();
    m_Result = NONE;
    if (host == nullptr || host[0] == '\0')
        return;
    if (inet_pton(AF_INET, host, &m_Address) == 1) {
        m_Result = FOUND;
        return;
    }
    // The system resolver has no time limit of its own: it runs on a helper thread, and
    // the caller stops waiting for it when it will. A late answer is dropped.
    auto job = std::make_shared<LOOKUP_JOB>();
    job->host = host;
    job->resolve = g_resolver.load();
    try {
        std::thread(RunLookup, job).detach();
    } catch (const std::exception&) {
        return;
    }
    m_pJob = job;
    m_Result = LOOKING;
}

HOST_LOOKUP::RESULT HOST_LOOKUP::Wait(int waitMs, in_addr* address)
{
    if (m_Result == LOOKING) {
        std::unique_lock<std::mutex> guard(m_pJob->lock);
        if (m_pJob->finished.wait_for(guard, std::chrono::milliseconds(waitMs), [&] { return m_pJob->done; })) {
            m_Result = m_pJob->found ? FOUND : NONE;
            m_Address = m_pJob->address;
        }
    }
    if (m_Result == FOUND)
        *address = m_Address;
    return m_Result;
}

HOST_RESOLVER SetHostResolver(HOST_RESOLVER resolver)
{
    return g_resolver.exchange(resolver != nullptr ? resolver : SystemResolve);
}
