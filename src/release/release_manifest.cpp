#include "release/release_manifest.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/decimal_text.h"
#include "protocol/update_protocol.h"
#include "release/hex_text.h"
#include "release/utc_time.h"

namespace {

// Unsigned 32-bit decimal in its one spelling: digits, no leading zero but for "0".
bool ParseCanonicalUInt32(const std::string& text, uint32_t* value)
{
    return !(text.size() > 1 && text[0] == '0') && ParseUInt32(text, value);
}

// Quoted for a message, without letting control bytes or a long line through.
std::string Shown(const std::string& text)
{
    std::string shown;
    for (char c : text.substr(0, 40))
        shown += c >= 0x20 && c < 0x7F ? c : '?';
    return "'" + shown + (text.size() > 40 ? "...'" : "'");
}

// The lines of the text, one at a time, each cut into its space-separated fields.
class MANIFEST_LINES {
public:
    MANIFEST_LINES(const char* text, size_t size) : m_pText(text), m_uSize(size) {}

    // False at the end of the text.
    bool Next()
    {
        if (m_uAt >= m_uSize)
            return false;
        m_uStart = m_uAt;
        size_t end = m_uAt;
        while (end < m_uSize && m_pText[end] != '\n')
            ++end;
        m_strLine.assign(m_pText + m_uAt, end - m_uAt);
        m_uAt = end + 1;
        ++m_iNumber;
        fields.clear();
        size_t from = 0;
        for (;;) {
            const size_t space = m_strLine.find(' ', from);
            fields.push_back(m_strLine.substr(from, space == std::string::npos ? std::string::npos : space - from));
            if (space == std::string::npos)
                break;
            from = space + 1;
        }
        return true;
    }

    bool AtEnd() const { return m_uAt >= m_uSize; }
    size_t Start() const { return m_uStart; }
    const std::string& Key() const { return fields[0]; }
    // "line 4: " + text.
    std::string Problem(const std::string& text) const { return "line " + std::to_string(m_iNumber) + ": " + text; }
    // "line 4: expected 'what', found '...'".
    std::string Expected(const std::string& what) const
    {
        return Problem("expected '" + what + "', found " + Shown(m_strLine));
    }

    std::vector<std::string> fields;

private:
    const char* m_pText;
    size_t m_uSize;
    size_t m_uAt = 0;
    size_t m_uStart = 0;
    int m_iNumber = 0;
    std::string m_strLine;
};

// "name N" with a canonical number.
bool ReadNumberLine(MANIFEST_LINES& lines, const char* name, uint32_t* value, std::string* error)
{
    if (!lines.Next()) {
        *error = std::string("ends before '") + name + "'";
        return false;
    }
    if (lines.Key() != name || lines.fields.size() != 2) {
        *error = lines.Expected(std::string(name) + " N");
        return false;
    }
    if (!ParseCanonicalUInt32(lines.fields[1], value)) {
        *error = lines.Problem(std::string(name) + " needs an unsigned 32-bit decimal without leading zeros, found " +
                               Shown(lines.fields[1]));
        return false;
    }
    return true;
}

// "file KIND NAME SIZE SHA256" for the kind expected here.
bool ReadFileLine(MANIFEST_LINES& lines, int kind, MANIFEST_FILE* file, std::string* error)
{
    const std::string kindText = std::to_string(kind);
    const std::string expected = "file " + kindText + " " + FileKindName(kind) + " SIZE SHA256";
    if (lines.Key() != "file" || lines.fields.size() != 5) {
        *error = lines.Expected(expected);
        return false;
    }
    if (lines.fields[1] != kindText) {
        *error = lines.Problem("expected the file of kind " + kindText + ", found kind " + Shown(lines.fields[1]));
        return false;
    }
    if (lines.fields[2] != FileKindName(kind)) {
        *error = lines.Problem("the file of kind " + kindText + " is named " + FileKindName(kind) + ", not " +
                               Shown(lines.fields[2]));
        return false;
    }
    if (!ParseCanonicalUInt32(lines.fields[3], &file->size)) {
        *error = lines.Problem("the size needs an unsigned 32-bit decimal without leading zeros, found " +
                               Shown(lines.fields[3]));
        return false;
    }
    if (!ParseHexLower(lines.fields[4], file->sha256, sizeof(file->sha256))) {
        *error = lines.Problem("the SHA-256 needs 64 lowercase hex digits, found " + Shown(lines.fields[4]));
        return false;
    }
    return true;
}

} // namespace

const MANIFEST_FILE* RELEASE_MANIFEST::FileOfKind(int kind) const
{
    if (kind == FILE_KIND_PATCH)
        return &patch;
    if (kind == FILE_KIND_UPDATER && hasUpdater)
        return &updater;
    return nullptr;
}

const MANIFEST_PACKAGE* RELEASE_MANIFEST::PackageOfBase(uint32_t base) const
{
    for (const MANIFEST_PACKAGE& p : packages)
        if (p.base == base)
            return &p;
    return nullptr;
}

bool ParseReleaseManifest(const void* text, size_t size, RELEASE_MANIFEST* manifest, std::string* error)
{
    const char* bytes = static_cast<const char*>(text);
    if (size == 0) {
        *error = "empty";
        return false;
    }
    if (size > RELEASE_MANIFEST::kMaxSize) {
        *error = "longer than " + std::to_string(RELEASE_MANIFEST::kMaxSize) + " bytes";
        return false;
    }
    if (bytes[size - 1] != '\n') {
        *error = "the last line does not end with a line feed";
        return false;
    }
    RELEASE_MANIFEST result;
    MANIFEST_LINES lines(bytes, size);
    lines.Next();
    if (lines.fields.size() != 2 || lines.Key() != "velgrim-release") {
        *error = lines.Expected("velgrim-release 1");
        return false;
    }
    if (lines.fields[1] != "1") {
        *error = lines.Problem("manifest format " + Shown(lines.fields[1]) + " is not known (only 1)");
        return false;
    }
    if (!ReadNumberLine(lines, "game_version", &result.gameVersion, error) ||
        !ReadNumberLine(lines, "updater_version", &result.updaterVersion, error))
        return false;
    result.hasUpdater = result.updaterVersion >= UPDATER_OFFER_MIN_VERSION;

    if (!lines.Next()) {
        *error = "ends before the file lines";
        return false;
    }
    if (!ReadFileLine(lines, FILE_KIND_PATCH, &result.patch, error))
        return false;
    MANIFEST_PACKAGE cumulative;
    cumulative.base = PACKAGE_BASE_CUMULATIVE;
    cumulative.size = result.patch.size;
    std::memcpy(cumulative.sha256, result.patch.sha256, sizeof(cumulative.sha256));
    result.packages.push_back(cumulative);
    if (!lines.Next()) {
        *error = "ends before the signature";
        return false;
    }
    if (result.hasUpdater) {
        if (lines.Key() != "file") {
            *error = lines.Expected(std::string("file 1003 ") + UPDATER_FILE_NAME + " SIZE SHA256") +
                     " (updater_version " + std::to_string(result.updaterVersion) + " offers an updater)";
            return false;
        }
        if (!ReadFileLine(lines, FILE_KIND_UPDATER, &result.updater, error))
            return false;
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
    } else if (lines.Key() == "file") {
        *error = lines.Problem("a second file line, but updater_version " + std::to_string(result.updaterVersion) +
                               " offers no updater (1024 and above do)");
        return false;
    }
    if (lines.Key() == "expires") {
        if (lines.fields.size() != 2 || !ParseUtcTime(lines.fields[1], &result.expires)) {
            *error = lines.Expected("expires YYYY-MM-DDTHH:MM:SSZ");
            return false;
        }
        result.hasExpiry = true;
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
    }
    if (lines.Key() != "signature" || lines.fields.size() != 2) {
        *error = lines.Expected(result.hasExpiry ? "signature HEX" : "expires ... or signature HEX");
        return false;
    }
    if (!ParseHexLower(lines.fields[1], result.signature, sizeof(result.signature))) {
        *error = lines.Problem("the signature needs 128 lowercase hex digits, found " + Shown(lines.fields[1]));
        return false;
    }
    result.signedSize = lines.Start();
    if (!lines.AtEnd()) {
        lines.Next();
        *error = lines.Problem("nothing may follow the signature, found " + Shown(lines.Key()));
        return false;
    }
    *manifest = result;
    return true;
}

std::string FormatManifestBody(const RELEASE_MANIFEST& manifest)
{
    auto fileLine = [](const MANIFEST_FILE& file, int kind) {
        return "file " + std::to_string(kind) + " " + FileKindName(kind) + " " + std::to_string(file.size) + " " +
               HexLower(file.sha256, sizeof(file.sha256)) + "\n";
    };
    std::string text = "velgrim-release 1\n";
    text += "game_version " + std::to_string(manifest.gameVersion) + "\n";
    text += "updater_version " + std::to_string(manifest.updaterVersion) + "\n";
    text += fileLine(manifest.patch, FILE_KIND_PATCH);
    if (manifest.updaterVersion >= UPDATER_OFFER_MIN_VERSION)
        text += fileLine(manifest.updater, FILE_KIND_UPDATER);
    if (manifest.hasExpiry)
        text += "expires " + FormatUtcTime(manifest.expires) + "\n";
    return text;
}

std::string FormatSignatureLine(const uint8_t signature[P256_SIGNATURE_SIZE])
{
    return "signature " + HexLower(signature, P256_SIGNATURE_SIZE) + "\n";
}

bool ReadManifestFile(const std::string& path, std::string* text)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::vector<char> buffer(RELEASE_MANIFEST::kMaxSize + 1);
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    text->assign(buffer.data(), got);
    return ok;
}
