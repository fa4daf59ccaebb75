#include "protocol/package_messages.h"

#include "common/counted_text.h"
#include "protocol/update_protocol.h"

void WritePackageRequest(NET_MESSAGE_HELPER& body, const PACKAGE_REQUEST& request)
{
    body.PushDword(request.kind);
    body.PushDword(static_cast<uint32_t>(request.offset));
    body.PushDword(request.tag);
    body.PushDword(GET_FILE_PACKAGE_MARK);
    body.PushDword(static_cast<uint32_t>(request.offset >> 32));
    body.PushDword(request.installed);
    body.PushDword(request.features);
}

bool ReadAnsweredAnnouncement(const char* body, int length, bool extended, PACKAGE_ANNOUNCEMENT* file,
                              bool featured)
{
    featured = featured && extended;
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    int nameLength = 0;
    const char* name = reader.GetData(&nameLength);
    if (reader.m_bReadFailed)
        return false;
    // A padded answer is not read as another one: the fields after the name are exactly
    // the ones the request asked for.
    const long rest = static_cast<long>(reader.m_pReadEnd - reader.m_pRead);
    // Asked for features, a server of the previous release still answers six dwords: it has
    // only plain packages (features 0).
    const bool withFeatures = featured && rest == 28;
    if (rest != (withFeatures ? 28 : extended ? 24 : 4))
        return false;
    file->name = TextBeforeZero(name, nameLength);
    const uint64_t sizeLow = reader.GetDword();
    file->extended = extended;
    file->size = sizeLow;
    file->tag = 0;
    file->start = 0;
    file->base = 0;
    file->features = 0;
    if (extended) {
        file->tag = reader.GetDword();
        const uint64_t startLow = reader.GetDword();
        const uint64_t sizeHigh = reader.GetDword();
        const uint64_t startHigh = reader.GetDword();
        file->base = reader.GetDword();
        if (withFeatures)
            file->features = reader.GetDword();
        file->size = sizeHigh << 32 | sizeLow;
        file->start = startHigh << 32 | startLow;
    }
    return !reader.m_bReadFailed;
}
