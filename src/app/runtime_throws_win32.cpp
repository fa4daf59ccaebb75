// The C++ runtime's throw helpers, for Updater.exe. The runtime's own ones build the
// standard exception classes, whose message is a reference-counted string of the old ABI:
// that pulls in a second whole string implementation (some 45 KB on i686) for messages no
// player sees. These throw the same kinds of failure with the runtime's own message, and
// every catch of std::exception still takes them.

#include <bits/functexcept.h>

#include <cerrno>
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class RUNTIME_FAILURE final : public std::exception {
public:
    explicit RUNTIME_FAILURE(const char* what) noexcept : m_pWhat(what != nullptr ? what : "C++ runtime failure") {}
    const char* what() const noexcept override { return m_pWhat; }

private:
    const char* m_pWhat; // the runtime passes literals
};

} // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_domain_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_invalid_argument(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_length_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_out_of_range(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_out_of_range_fmt(const char* format, ...) { throw RUNTIME_FAILURE(format); }
void __throw_runtime_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_range_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_overflow_error(const char* what) { throw RUNTIME_FAILURE(what); }
void __throw_underflow_error(const char* what) { throw RUNTIME_FAILURE(what); }
// A thread or lock the system refused (no memory, no handles).
void __throw_system_error(int code)
{
    throw RUNTIME_FAILURE(code == EAGAIN ? "the system has no resources for a thread" : "a thread or lock failed");
}

} // namespace std
