#include "id3v2_test_util.h"

namespace id3test {

void TagServiceTest::WriteTag(const std::string& name, const file_info& info) {
    file_ptr f;
    filesystem::g_open_write_new(f, HostPath(name).c_str(), abort);
    tag_processor_id3v2::g_get()->write(f, info, no_temp, abort);
}

file_info_impl TagServiceTest::ReadTag(const std::string& name) {
    file_ptr f;
    filesystem::g_open_read(f, HostPath(name).c_str(), abort);
    file_info_impl out;
    tag_processor_id3v2::g_get()->read(f, out, abort);
    return out;
}

void ExpectSameInfo(const file_info& expected, const file_info& actual) {
    EXPECT_EQ(actual.meta_get_count(), expected.meta_get_count());
    for (size_t i = 0; i < expected.meta_get_count(); ++i) {
        const char* name = expected.meta_enum_name(i);
        const size_t j = actual.meta_find(name);
        ASSERT_NE(j, file_info::npos) << "field " << name << " missing";
        std::vector<std::string> want, got;
        for (size_t v = 0; v < expected.meta_enum_value_count(i); ++v)
            want.push_back(expected.meta_enum_value(i, v));
        for (size_t v = 0; v < actual.meta_enum_value_count(j); ++v)
            got.push_back(actual.meta_enum_value(j, v));
        EXPECT_EQ(got, want) << "field " << name;
    }
    EXPECT_EQ(actual.get_replaygain(), expected.get_replaygain());
}

}  // namespace id3test
