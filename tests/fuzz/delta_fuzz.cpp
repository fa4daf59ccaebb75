// Applies arbitrary bytes as a delta payload of either kind to a fixed base: whatever the
// input, the apply never reads outside the base, never writes more than the file's size,
// and a success writes exactly that size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "delta/diff_apply.h"
#include "delta/patch_from_apply.h"

namespace {

class BOUNDED_OUTPUT : public DELTA_OUTPUT {
public:
    explicit BOUNDED_OUTPUT(uint64_t limit) : m_uLimit(limit) {}
    bool Write(const void*, size_t size) override
    {
        m_uWritten += size;
        if (m_uWritten > m_uLimit) {
            std::fprintf(stderr, "delta_fuzz: wrote %llu of %llu bytes\n", static_cast<unsigned long long>(m_uWritten),
                         static_cast<unsigned long long>(m_uLimit));
            std::abort();
        }
        return true;
    }
    uint64_t written() const { return m_uWritten; }

private:
    uint64_t m_uLimit;
    uint64_t m_uWritten = 0;
};

const std::vector<unsigned char>& Base()
{
    static const std::vector<unsigned char> base = [] {
        std::vector<unsigned char> b(4096);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<unsigned char>(i * 7 + (i >> 5));
        return b;
    }();
    return base;
}

} // namespace

// Input: byte 0 picks the kind (even: difference, odd: patch from), bytes 1-2 the file's
// size (little-endian), the rest is the payload.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint64_t targetSize = static_cast<uint64_t>(data[1]) | static_cast<uint64_t>(data[2]) << 8;
    // The base is copied to memory of exactly its size, so that a read past it is caught.
    const std::vector<unsigned char> base = Base();
    MEMORY_INPUT input(data + 3, size - 3);
    BOUNDED_OUTPUT out(targetSize);
    std::string reason;
    const bool ok = (data[0] & 1) == 0
                        ? ApplyDiffPayload(base.data(), base.size(), input, 0, size - 3, targetSize, out, &reason)
                        : ApplyPatchFromPayload(base.data(), base.size(), input, 0, size - 3, targetSize, out, &reason);
    if (ok && out.written() != targetSize) {
        std::fprintf(stderr, "delta_fuzz: success with %llu of %llu bytes\n",
                     static_cast<unsigned long long>(out.written()), static_cast<unsigned long long>(targetSize));
        std::abort();
    }
    if (!ok && reason.empty()) {
        std::fprintf(stderr, "delta_fuzz: a refusal without a reason\n");
        std::abort();
    }
    return 0;
}
