#include "ui/console/unpack_meter.h"

#include <cstring>

#include "pack/pack_index.h"
#include "pack/pack_unpacker.h"
#include "protocol/own_names.h"

namespace {

std::string EntryName(const char* path)
{
    if (path == nullptr)
        return std::string();
    const std::string staged = std::string(STAGING_DIR_NAME) + "/files/";
    const char* at = std::strstr(path, staged.c_str());
    return at != nullptr ? std::string(at + staged.size()) : std::string(path);
}

} // namespace

void UNPACK_METER::OnEvent(int event, int value, const char* path)
{
    switch (event) {
    case UNPACK_EVENT_FILE_BEGIN:
        // The entry's size, up to 4 GiB - 1, travels as an int.
        m_uCurrent = static_cast<uint32_t>(value);
        m_iCurrentPercent = 0;
        m_strName = EntryName(path);
        break;
    case UNPACK_EVENT_FILE_PROGRESS:
        m_iCurrentPercent = value < 0 ? 0 : value > 100 ? 100 : value;
        break;
    case UNPACK_EVENT_FILE_END:
        m_uDone += m_uCurrent;
        m_uCurrent = 0;
        m_iCurrentPercent = 0;
        break;
    default:
        break;
    }
}

int UNPACK_METER::Percent() const
{
    if (m_uTotal == 0)
        return 0;
    const uint64_t done = m_uDone + m_uCurrent * static_cast<uint64_t>(m_iCurrentPercent) / 100u;
    return done >= m_uTotal ? 100 : static_cast<int>(done * 100u / m_uTotal);
}

uint64_t PackageDataBytes(const char* path)
{
    PACK_INDEX index;
    std::string error;
    if (!index.Load(path, &error))
        return 0;
    uint64_t total = 0;
    for (const PACK_INDEX_ENTRY& e : index.m_Entries)
        total += index.HasMagic() ? e.OutputSize() : e.dataSize;
    return total;
}
