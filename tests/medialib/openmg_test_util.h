// Helpers shared by the OpenMG handler tests: opening through the handler,
// running ffprobe/ffmpeg, locating the parts of an OMA file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/container.h"
#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/openmg_file.h"
#include "tests/support/test_support.h"

namespace omgtest {

inline std::unique_ptr<medialib::OpenedFile> Open(const std::filesystem::path& path) {
    auto src = medialib::OpenFileSource(path);
    if (!src) return nullptr;
    return medialib::OpenOpenMg(*src, path);
}

// First value of an attribute, or nullptr.
inline const medialib::Value* Get(const medialib::OpenedFile& f, uint32_t id) {
    const auto& a = f.Attributes();
    auto it = a.find(id);
    return it == a.end() || it->second.empty() ? nullptr : &it->second.front();
}

inline int32_t Int(const medialib::OpenedFile& f, uint32_t id) {
    const auto* v = Get(f, id);
    return v && std::holds_alternative<int32_t>(*v) ? std::get<int32_t>(*v) : -1;
}

inline std::u16string Text(const medialib::OpenedFile& f, uint32_t id) {
    const auto* v = Get(f, id);
    return v && std::holds_alternative<std::u16string>(*v) ? std::get<std::u16string>(*v) : u"<absent>";
}

// Output of a shell command, or nullopt when it fails to run or exits non-zero.
inline std::optional<std::string> Run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>/dev/null").c_str(), "r"), ::pclose);
    if (!pipe) return std::nullopt;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe.get())) > 0) out.append(buf, n);
    const int status = ::pclose(pipe.release());
    if (status != 0) return std::nullopt;
    return out;
}

inline bool HaveFfmpeg() {
    static const bool have = Run("ffprobe -version").has_value() && Run("ffmpeg -version").has_value();
    return have;
}

inline std::string Quote(const std::filesystem::path& p) {
    std::string out = "'";
    for (char c : p.string()) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Value of "key=value" in ffprobe's default output, or "".
inline std::string ProbeField(const std::string& probe, const std::string& key) {
    const std::string needle = key + "=";
    size_t pos = 0;
    while ((pos = probe.find(needle, pos)) != std::string::npos) {
        if (pos == 0 || probe[pos - 1] == '\n') {
            const size_t end = probe.find('\n', pos);
            return probe.substr(pos + needle.size(), end - pos - needle.size());
        }
        pos += needle.size();
    }
    return "";
}

// Offset of the EA3 header: after the ea3 tag, or 0 for a bare file.
inline size_t Ea3Offset(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 10 && bytes[0] == 'e' && bytes[1] == 'a' && bytes[2] == '3') {
        return 10 + medialib::openmg::ReadSyncsafe(bytes.data() + 6);
    }
    return 0;
}

// EA3 header and payload: everything a tag edit must leave unchanged.
inline std::vector<uint8_t> AudioPart(const std::filesystem::path& path) {
    const auto bytes = testsupport::ReadBytes(path);
    const size_t at = Ea3Offset(bytes);
    return at <= bytes.size() ? std::vector<uint8_t>(bytes.begin() + static_cast<long>(at), bytes.end())
                              : std::vector<uint8_t>();
}

inline std::shared_ptr<medialib::PictureData> Picture(const std::string& mime, std::vector<uint8_t> bytes) {
    auto p = std::make_shared<medialib::PictureData>();
    p->mime = mime;
    p->bytes = std::move(bytes);
    return p;
}

}  // namespace omgtest
