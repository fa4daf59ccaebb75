#include "update_server/file_request.h"

SHAPED_FILE_REQUEST ReadShapedFileRequest(const char* body, int length)
{
    SHAPED_FILE_REQUEST r;
    if (length != 12 && length != 28)
        return r;
    NET_MESSAGE_HELPER reader;
    reader.InitRead(body, length);
    r.kind = reader.GetDword();
    const uint32_t offsetLow = reader.GetDword();
    r.tag = reader.GetDword();
    if (length == 12) {
        r.offset = offsetLow;
        if (r.tag != 0)
            r.shape = REQUEST_SHAPE::kResume;
        else if (r.offset == 0)
            r.shape = REQUEST_SHAPE::kPlain;
        return r;
    }
    const uint32_t mark = reader.GetDword();
    r.offset = static_cast<uint64_t>(reader.GetDword()) << 32 | offsetLow;
    r.installed = reader.GetDword();
    r.features = reader.GetDword();
    // An offset needs the tag of the part it ends.
    const bool holdsNothing = r.tag == 0 || r.tag == RESUME_TAG_NONE;
    if (!reader.m_bReadFailed && mark == GET_FILE_PACKAGE_MARK && !(holdsNothing && r.offset != 0))
        r.shape = REQUEST_SHAPE::kPackage;
    return r;
}

void WritePackageAnswer(NET_MESSAGE_HELPER& body, const PACKAGE_ANSWER& answer)
{
    body.PushString(answer.name.c_str(), static_cast<int>(answer.name.size()) + 1);
    body.PushDword(static_cast<uint32_t>(answer.size));
    body.PushDword(answer.tag);
    body.PushDword(static_cast<uint32_t>(answer.start));
    body.PushDword(static_cast<uint32_t>(answer.size >> 32));
    body.PushDword(static_cast<uint32_t>(answer.start >> 32));
    body.PushDword(answer.base);
    if (answer.withFeatures)
        body.PushDword(answer.features);
}
