#include "side_tag_fixture.h"

#include <algorithm>
#include <cstdio>

#include "host/sdk/tag_processor.h"
#include "platform/text/text.h"

namespace sidetagtest {

std::filesystem::path SideTagStore::MakeAudio(const std::string& relative) {
    const std::filesystem::path p = dir / relative;
    std::filesystem::create_directories(p.parent_path());
    testsupport::WriteText(p, "audio");
    return p;
}

std::u16string SideTagStore::KeyOf(const std::filesystem::path& p) {
    return platform::ToUpper(platform::Utf8ToUtf16(p.string()));
}

std::filesystem::path SideTagStore::BucketFolder(const std::u16string& key) const {
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%02X", corvina::ProfileBucketOf(key.c_str()).value());
    return StoreRoot() / digits;
}

std::vector<std::string> SideTagStore::BucketFiles(const std::u16string& key) const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(BucketFolder(key), ec)) {
        out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint8_t> SideTagStore::TagBytes(const file_info& info) {
    const std::filesystem::path p = dir / "scratch.tag";
    file_ptr f;
    filesystem::g_open_write_new(f, HostPath(p).c_str(), abort);
    tag_write_callback_dummy none;
    tag_processor_id3v2::g_get()->write(f, info, none, abort);
    f.release();
    return testsupport::ReadBytes(p);
}

std::filesystem::path SideTagStore::Plant(const std::u16string& bucket_key, const std::string& name,
                                          const std::u16string& stored_key, const file_info& info) {
    std::filesystem::create_directories(BucketFolder(bucket_key));
    std::vector<uint8_t> bytes = TagBytes(info);
    const std::vector<uint8_t> trailer = corvina::ProfileTrailer(stored_key.c_str());
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    const std::filesystem::path p = BucketFolder(bucket_key) / name;
    testsupport::WriteBytes(p, bytes);
    return p;
}

file_info_impl SideTagStore::Titled(const std::string& title) {
    file_info_impl info;
    info.meta_set("title", title.c_str());
    return info;
}

std::vector<uint8_t> Utf16Le(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::u16string ShortKeyInBucket(unsigned bucket) {
    for (size_t n = 0; n < 1000; ++n) {
        for (char16_t c = u'A'; c <= u'Z'; ++c) {
            const std::u16string key = u"/" + std::u16string(n, u'A') + c + u".OMA";
            if (corvina::ProfileBucketOf(key.c_str()) == bucket) return key;
        }
    }
    ADD_FAILURE() << "no short key for bucket " << bucket;
    return u"/A.OMA";
}

}  // namespace sidetagtest
