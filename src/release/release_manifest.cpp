#include "release/release_manifest.h"

#include <algorithm>
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

// "package WHAT SIZE SHA256", WHAT being "cumulative", "full" or "from V"; in format 3 the
// variant's word follows WHAT.
bool ReadPackageLine(MANIFEST_LINES& lines, uint32_t format, MANIFEST_PACKAGE* package, std::string* error)
{
    const bool three = format == 3;
    const bool from = lines.fields.size() >= 2 && lines.fields[1] == "from";
    const size_t fields = (from ? 5u : 4u) + (three ? 1u : 0u);
    if (lines.Key() != "package" || lines.fields.size() != fields) {
        *error = lines.Expected(three ? "package cumulative|full|from V plain|zstd|delta SIZE SHA256"
                                      : "package cumulative|full|from V SIZE SHA256");
        return false;
    }
    if (from) {
        if (!ParseCanonicalUInt32(lines.fields[2], &package->base)) {
            *error = lines.Problem("the version needs an unsigned 32-bit decimal without leading zeros, found " +
                                   Shown(lines.fields[2]));
            return false;
        }
    } else if (lines.fields[1] == "cumulative") {
        package->base = PACKAGE_BASE_CUMULATIVE;
    } else if (lines.fields[1] == "full") {
        package->base = PACKAGE_BASE_FULL;
    } else {
        *error = lines.Problem("a package is 'cumulative', 'full' or 'from V', not " + Shown(lines.fields[1]));
        return false;
    }
    size_t at = from ? 3 : 2;
    if (three) {
        const std::string& variant = lines.fields[at++];
        if (variant == "plain")
            package->features = 0;
        else if (variant == "zstd")
            package->features = PACKAGE_FEATURE_ZSTD;
        else if (variant == "delta")
            package->features = PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA;
        else {
            *error = lines.Problem("a package variant is 'plain', 'zstd' or 'delta', not " + Shown(variant));
            return false;
        }
    }
    const std::string& size = lines.fields[at];
    if ((size.size() > 1 && size[0] == '0') || !ParseUnsignedDecimal(size, UINT64_MAX, &package->size)) {
        *error = lines.Problem("the size needs an unsigned 64-bit decimal without leading zeros, found " + Shown(size));
        return false;
    }
    if (!ParseHexLower(lines.fields[at + 1], package->sha256, sizeof(package->sha256))) {
        *error = lines.Problem("the SHA-256 needs 64 lowercase hex digits, found " + Shown(lines.fields[at + 1]));
        return false;
    }
    return true;
}

// The cumulative package, which travels in the plain answer (one dword of size).
bool TakeCumulative(const MANIFEST_LINES& lines, const MANIFEST_PACKAGE& package, RELEASE_MANIFEST* result,
                    std::string* error)
{
    if (package.size > UINT32_MAX) {
        *error = lines.Problem("the cumulative package travels in the plain answer: at most 4294967295 "
                               "bytes, not " + std::to_string(package.size));
        return false;
    }
    result->patch.size = static_cast<uint32_t>(package.size);
    std::memcpy(result->patch.sha256, package.sha256, sizeof(package.sha256));
    return true;
}

// Format 2 from its first package line on (the current line) up to the line after the
// last package.
bool ReadPackages2(MANIFEST_LINES& lines, RELEASE_MANIFEST* result, std::string* error)
{
    const char* const order[] = {"cumulative", "full"};
    for (const char* what : order) {
        MANIFEST_PACKAGE package;
        if (lines.Key() != "package" || lines.fields.size() != 4 || lines.fields[1] != what) {
            *error = lines.Expected(std::string("package ") + what + " SIZE SHA256");
            return false;
        }
        if (!ReadPackageLine(lines, 2, &package, error))
            return false;
        if (package.base == PACKAGE_BASE_CUMULATIVE && !TakeCumulative(lines, package, result, error))
            return false;
        result->packages.push_back(package);
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
    }
    size_t from = 0;
    while (lines.Key() == "package") {
        MANIFEST_PACKAGE package;
        if (lines.fields.size() < 2 || lines.fields[1] != "from") {
            *error = lines.Expected("package from V SIZE SHA256");
            return false;
        }
        if (!ReadPackageLine(lines, 2, &package, error))
            return false;
        if (package.base >= result->gameVersion) {
            *error = lines.Problem("a package from version " + std::to_string(package.base) +
                                   " to game_version " + std::to_string(result->gameVersion) + " goes no higher");
            return false;
        }
        if (from != 0 && package.base <= result->packages.back().base) {
            *error = lines.Problem("package from " + std::to_string(package.base) + " after package from " +
                                   std::to_string(result->packages.back().base) + " (versions rise, once each)");
            return false;
        }
        if (++from > RELEASE_MANIFEST::kMaxFromPackages) {
            *error = lines.Problem("more than " + std::to_string(RELEASE_MANIFEST::kMaxFromPackages) +
                                   " packages from older versions");
            return false;
        }
        result->packages.push_back(package);
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
    }
    return true;
}

// Where a package line sorts in format 3: full, then "from" versions rising; inside one
// base plain, zstd, delta.
uint64_t PackageRank(const MANIFEST_PACKAGE& p)
{
    const uint64_t base = p.base == PACKAGE_BASE_FULL ? 0 : static_cast<uint64_t>(p.base) + 1;
    const uint64_t variant = p.features == 0 ? 0 : (p.features & PACKAGE_FEATURE_DELTA) != 0 ? 2 : 1;
    return base << 2 | variant;
}

std::string PackageText(const MANIFEST_PACKAGE& p)
{
    return std::string("package ") +
           (p.base == PACKAGE_BASE_CUMULATIVE ? std::string("cumulative")
            : p.base == PACKAGE_BASE_FULL     ? std::string("full")
                                              : "from " + std::to_string(p.base)) +
           " " + PackageVariantName(p.features);
}

// Format 3 from its first package line on up to the line after the last mirror.
bool ReadPackages3(MANIFEST_LINES& lines, RELEASE_MANIFEST* result, std::string* error)
{
    MANIFEST_PACKAGE cumulative;
    if (lines.Key() != "package" || lines.fields.size() != 5 || lines.fields[1] != "cumulative") {
        *error = lines.Expected("package cumulative plain SIZE SHA256");
        return false;
    }
    if (!ReadPackageLine(lines, 3, &cumulative, error))
        return false;
    if (cumulative.features != 0) {
        *error = lines.Problem("the cumulative package is plain only");
        return false;
    }
    if (!TakeCumulative(lines, cumulative, result, error))
        return false;
    result->packages.push_back(cumulative);
    if (!lines.Next()) {
        *error = "ends before the signature";
        return false;
    }
    size_t from = 0;
    const MANIFEST_PACKAGE* last = nullptr;
    while (lines.Key() == "package") {
        MANIFEST_PACKAGE package;
        if (!ReadPackageLine(lines, 3, &package, error))
            return false;
        if (package.base == PACKAGE_BASE_CUMULATIVE) {
            *error = lines.Problem("a second cumulative package (it is plain only, and first)");
            return false;
        }
        if (package.base != PACKAGE_BASE_FULL && package.base >= result->gameVersion) {
            *error = lines.Problem("a package from version " + std::to_string(package.base) +
                                   " to game_version " + std::to_string(result->gameVersion) + " goes no higher");
            return false;
        }
        if (last != nullptr && PackageRank(package) <= PackageRank(*last)) {
            *error = lines.Problem(PackageText(package) + " after " + PackageText(*last) +
                                   " (full first, then versions rising, each plain, zstd, delta, once)");
            return false;
        }
        if (package.features != 0 && (last == nullptr || last->base != package.base)) {
            *error = lines.Problem(PackageText(package) + " without its plain package before it");
            return false;
        }
        if (package.base != PACKAGE_BASE_FULL && (last == nullptr || last->base != package.base) &&
            ++from > RELEASE_MANIFEST::kMaxFromPackages) {
            *error = lines.Problem("packages from more than " + std::to_string(RELEASE_MANIFEST::kMaxFromPackages) +
                                   " older versions");
            return false;
        }
        result->packages.push_back(package);
        last = &result->packages.back();
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
    }
    while (lines.Key() == "mirror") {
        if (lines.fields.size() != 2) {
            *error = lines.Expected("mirror URL");
            return false;
        }
        const std::string problem = MirrorUrlProblem(lines.fields[1]);
        if (!problem.empty()) {
            *error = lines.Problem("mirror " + Shown(lines.fields[1]) + ": " + problem);
            return false;
        }
        if (result->mirrors.size() == RELEASE_MANIFEST::kMaxMirrors) {
            *error = lines.Problem("more than " + std::to_string(RELEASE_MANIFEST::kMaxMirrors) + " mirrors");
            return false;
        }
        result->mirrors.push_back(lines.fields[1]);
        if (!lines.Next()) {
            *error = "ends before the signature";
            return false;
        }
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
    return PackageOf(base, 0);
}

const MANIFEST_PACKAGE* RELEASE_MANIFEST::PackageOf(uint32_t base, uint32_t features) const
{
    for (const MANIFEST_PACKAGE& p : packages)
        if (p.base == base && p.features == features)
            return &p;
    return nullptr;
}

const char* PackageVariantName(uint32_t features)
{
    if (features == 0)
        return "plain";
    if (features == PACKAGE_FEATURE_ZSTD)
        return "zstd";
    if (features == (PACKAGE_FEATURE_ZSTD | PACKAGE_FEATURE_DELTA))
        return "delta";
    return nullptr;
}

std::string MirrorUrlProblem(const std::string& url)
{
    if (url.size() > RELEASE_MANIFEST::kMaxMirrorLength)
        return "longer than " + std::to_string(RELEASE_MANIFEST::kMaxMirrorLength) + " bytes";
    for (char c : url)
        if (c <= 0x20 || c >= 0x7F)
            return "only printable ASCII without blanks";
    size_t host = 0;
    if (url.compare(0, 7, "http://") == 0)
        host = 7;
    else if (url.compare(0, 8, "https://") == 0)
        host = 8;
    else
        return "not an http:// or https:// URL";
    if (host == url.size() || url[host] == '/' || url[host] == ':' || url.find_first_of("?#", host) != std::string::npos)
        return "needs a host, and no query or fragment";
    // Credentials would be published to every player with the manifest.
    if (url.substr(host, url.find('/', host) - host).find('@') != std::string::npos)
        return "no user part (user@host): it would be published with the manifest";
    return "";
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
        *error = lines.Expected("velgrim-release 1', 'velgrim-release 2' or 'velgrim-release 3");
        return false;
    }
    if (lines.fields[1] != "1" && lines.fields[1] != "2" && lines.fields[1] != "3") {
        *error = lines.Problem("manifest format " + Shown(lines.fields[1]) + " is not known (only 1, 2 and 3)");
        return false;
    }
    result.format = static_cast<uint32_t>(lines.fields[1][0] - '0');
    // Formats 1 and 2 keep their own bounds: a longer one is no manifest of that format.
    const size_t bound = result.format == 1   ? RELEASE_MANIFEST::kMaxFormat1Size
                         : result.format == 2 ? RELEASE_MANIFEST::kMaxFormat2Size
                                              : RELEASE_MANIFEST::kMaxSize;
    if (size > bound) {
        *error = "longer than " + std::to_string(bound) + " bytes";
        return false;
    }
    if (!ReadNumberLine(lines, "game_version", &result.gameVersion, error) ||
        !ReadNumberLine(lines, "updater_version", &result.updaterVersion, error))
        return false;
    result.hasUpdater = result.updaterVersion >= UPDATER_OFFER_MIN_VERSION;

    if (!lines.Next()) {
        *error = result.format == 1 ? "ends before the file lines" : "ends before the package lines";
        return false;
    }
    if (result.format == 1) {
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
        *error = lines.Problem(std::string(result.format == 1 ? "a second file line" : "a file line") +
                               ", but updater_version " + std::to_string(result.updaterVersion) +
                               " offers no updater (1024 and above do)");
        return false;
    }
    if (result.format == 2 && !ReadPackages2(lines, &result, error))
        return false;
    if (result.format == 3 && !ReadPackages3(lines, &result, error))
        return false;
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
    const bool three = manifest.format == 3;
    auto packageLine = [three](const MANIFEST_PACKAGE& p) {
        const std::string what = p.base == PACKAGE_BASE_CUMULATIVE ? std::string("cumulative")
                                 : p.base == PACKAGE_BASE_FULL     ? std::string("full")
                                                                   : "from " + std::to_string(p.base);
        const std::string variant = three ? std::string(" ") + PackageVariantName(p.features) : std::string();
        return "package " + what + variant + " " + std::to_string(p.size) + " " +
               HexLower(p.sha256, sizeof(p.sha256)) + "\n";
    };
    const bool two = manifest.format >= 2;
    std::string text = "velgrim-release " + std::to_string(two ? manifest.format : 1) + "\n";
    text += "game_version " + std::to_string(manifest.gameVersion) + "\n";
    text += "updater_version " + std::to_string(manifest.updaterVersion) + "\n";
    if (!two)
        text += fileLine(manifest.patch, FILE_KIND_PATCH);
    if (manifest.updaterVersion >= UPDATER_OFFER_MIN_VERSION)
        text += fileLine(manifest.updater, FILE_KIND_UPDATER);
    if (two) {
        // Format 2 names the plain packages only; format 3 every variant a format can spell.
        if (const MANIFEST_PACKAGE* p = manifest.PackageOfBase(PACKAGE_BASE_CUMULATIVE))
            text += packageLine(*p);
        std::vector<MANIFEST_PACKAGE> rest;
        for (const MANIFEST_PACKAGE& p : manifest.packages)
            if (p.base != PACKAGE_BASE_CUMULATIVE && (three ? PackageVariantName(p.features) != nullptr : p.features == 0))
                rest.push_back(p);
        std::sort(rest.begin(), rest.end(),
                  [](const MANIFEST_PACKAGE& a, const MANIFEST_PACKAGE& b) { return PackageRank(a) < PackageRank(b); });
        for (const MANIFEST_PACKAGE& p : rest)
            text += packageLine(p);
        if (three)
            for (const std::string& mirror : manifest.mirrors)
                text += "mirror " + mirror + "\n";
    }
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
