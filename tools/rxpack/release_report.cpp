#include "release_report.h"

#include <cstdio>

#include "protocol/update_protocol.h"

namespace {

std::string BaseText(uint32_t base)
{
    return base == PACKAGE_BASE_CUMULATIVE ? "cumulative" : base == PACKAGE_BASE_FULL ? "full"
                                                                                      : "from " + std::to_string(base);
}

std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

template <typename LIST, typename NAME>
std::string JsonNames(const LIST& list, NAME name)
{
    std::string out = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i != 0)
            out += ',';
        out += Json(name(list[i]));
    }
    return out + "]";
}

std::string Count(size_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string UpdaterText(const RELEASE_FACTS& facts)
{
    const VERSION_LIST& next = *facts.next;
    if (next.updaterVersion < UPDATER_OFFER_MIN_VERSION)
        return "no updater offered";
    return std::string(UPDATER_FILE_NAME) + " " + std::to_string(next.updaterVersion) + ", " +
           std::to_string(next.updater.size) + " bytes" + (facts.newUpdater ? "" : " (kept from the last release)");
}

} // namespace

std::string ReportText(const RELEASE_FACTS& facts)
{
    const VERSION_LIST& next = *facts.next;
    std::string text = "version " + std::to_string(next.version) + ": " + Count(next.files.size(), "file") + ", " + std::to_string(next.TotalBytes()) + " bytes; " + UpdaterText(facts) + "\n";
    for (const PACKAGE_PLAN& p : facts.plan->packages) {
        text += BaseText(p.base) + ": " + p.fileName + ", " + std::to_string(p.Bytes()) + " bytes, ";
        if (p.base == PACKAGE_BASE_CUMULATIVE || p.base == PACKAGE_BASE_FULL) {
            text += Count(p.added.size(), "file") + "\n";
            continue;
        }
        text += std::to_string(p.added.size()) + " added, " + std::to_string(p.changed.size()) + " changed, " +
                std::to_string(p.removed.size()) + " removed\n";
        for (const LISTED_FILE* f : p.added)
            text += "  + " + f->name + "\n";
        for (const LISTED_FILE* f : p.changed)
            text += "  * " + f->name + "\n";
        for (const std::string& name : p.removed)
            text += "  - " + name + "\n";
    }
    for (const PACKAGE_VARIANT& v : facts.variants)
        text += BaseText(v.base) + ", compressed: " + v.fileName + ", " + std::to_string(v.bytes) + " bytes\n";
    if (facts.dryRun) {
        text += "dry run: nothing written\n";
    } else {
        text += "recorded in " + facts.store + ", published as " + facts.store + "/serve";
        for (const std::string& file : facts.signedFiles)
            text += ", " + file;
        text += facts.signedFiles.empty() ? " (unsigned)\n" : "\n";
        text += "CDN tree " + facts.store + "/cdn: " + Count(facts.cdnObjects.size(), "new object") + "\n";
    }
    return text;
}

std::string ReportJson(const RELEASE_FACTS& facts)
{
    const VERSION_LIST& next = *facts.next;
    std::string json = "{\"version\":" + std::to_string(next.version) + ",\"store\":" + Json(facts.store) +
                       ",\"dry_run\":" + (facts.dryRun ? "true" : "false") +
                       ",\"files\":" + std::to_string(next.files.size()) +
                       ",\"bytes\":" + std::to_string(next.TotalBytes()) +
                       ",\"updater_version\":" + std::to_string(next.updaterVersion) + ",\"packages\":[";
    const auto name = [](const LISTED_FILE* f) { return f->name; };
    for (size_t i = 0; i < facts.plan->packages.size(); ++i) {
        const PACKAGE_PLAN& p = facts.plan->packages[i];
        json += i == 0 ? "{" : ",{";
        json += "\"base\":" + (p.base == PACKAGE_BASE_CUMULATIVE || p.base == PACKAGE_BASE_FULL
                                   ? Json(BaseText(p.base))
                                   : std::to_string(p.base));
        json += ",\"file\":" + Json(p.fileName) + ",\"bytes\":" + std::to_string(p.Bytes());
        if (p.base == PACKAGE_BASE_CUMULATIVE || p.base == PACKAGE_BASE_FULL) {
            json += ",\"files\":" + JsonNames(p.added, name) + "}";
            continue;
        }
        json += ",\"added\":" + JsonNames(p.added, name) + ",\"changed\":" + JsonNames(p.changed, name) +
                ",\"removed\":" + JsonNames(p.removed, [](const std::string& n) { return n; }) + "}";
    }
    json += "],\"variants\":[";
    for (size_t i = 0; i < facts.variants.size(); ++i) {
        const PACKAGE_VARIANT& v = facts.variants[i];
        json += std::string(i == 0 ? "{" : ",{") + "\"base\":" +
                (v.base == PACKAGE_BASE_FULL ? Json(BaseText(v.base)) : std::to_string(v.base)) +
                ",\"features\":" + Json((v.features & PACKAGE_FEATURE_DELTA) != 0 ? "delta" : "zstd") +
                ",\"file\":" + Json(v.fileName) + ",\"bytes\":" + std::to_string(v.bytes) + "}";
    }
    const auto same = [](const std::string& n) { return n; };
    json += "],\"signed\":" + JsonNames(facts.signedFiles, same) + ",\"cdn_new\":" + JsonNames(facts.cdnObjects, same) +
            "}\n";
    return json;
}
