// The service model and the single-track input wrappers, with a component
// class defined here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/sdk/album_art.h"
#include "host/sdk/callstack.h"
#include "host/sdk/component.h"
#include "host/sdk/input_impl.h"

namespace {

struct Counters {
    int constructed = 0;
    int destroyed = 0;
    int opens = 0;
    int retags = 0;
    int inits = 0;
    t_input_open_reason last_reason = input_open_info_read;
};
Counters g_counters;

class input_fake {
  public:
    input_fake() { ++g_counters.constructed; }
    ~input_fake() { ++g_counters.destroyed; }
    void open(const file_ptr&, const char* path, t_input_open_reason reason, abort_callback&) {
        ++g_counters.opens;
        g_counters.last_reason = reason;
        if (std::string(path) == "bad") throw exception_io_unsupported_format();
        m_path = path;
    }
    void get_info(file_info& info, abort_callback&) { info.meta_set("title", m_path.c_str()); }
    t_filestats get_file_stats(abort_callback&) { return {42, 7}; }
    void decode_initialize(unsigned, abort_callback&) { ++g_counters.inits; }
    bool decode_run(audio_chunk&, abort_callback&) { return false; }
    void decode_seek(double, abort_callback&) {}
    bool decode_can_seek() { return true; }
    bool decode_get_dynamic_info(file_info&, double&) { return false; }
    bool decode_get_dynamic_info_track(file_info&, double&) { return false; }
    void decode_on_idle(abort_callback&) {}
    void retag(const file_info&, abort_callback&) { ++g_counters.retags; }
    static bool g_is_our_content_type(const char*) { return false; }
    static bool g_is_our_path(const char*, const char* ext) { return std::string(ext) == "fak"; }

  private:
    std::string m_path;
};

class InputWrapper : public ::testing::Test {
  protected:
    void SetUp() override { g_counters = {}; }
    service_impl_single_t<input_entry_impl_t<input_fake>> entry;
    abort_callback_dummy abort;
};

TEST_F(InputWrapper, EntryAnswersPathsAndFixedValues) {
    EXPECT_TRUE(entry.is_our_path("/x/a.fak", "fak"));
    EXPECT_FALSE(entry.is_our_path("/x/a.oma", "oma"));
    EXPECT_FALSE(entry.is_our_content_type("audio/x-oma"));
    EXPECT_EQ(entry.get_flags(), 0u);
    std::vector<uint8_t> data{1, 2};
    entry.get_extended_data(file_ptr(), "a.fak", GUID_NULL, data, abort);
    EXPECT_TRUE(data.empty());
}

TEST_F(InputWrapper, EachOpenMakesOneObjectDestroyedWithItsLastReference) {
    {
        service_ptr_t<input_decoder> decoder;
        entry.open_for_decoding(decoder, file_ptr(), "a.fak", abort);
        EXPECT_EQ(g_counters.last_reason, input_open_decode);
        service_ptr_t<input_info_reader> reader;
        entry.open_for_info_read(reader, file_ptr(), "a.fak", abort);
        EXPECT_EQ(g_counters.last_reason, input_open_info_read);
        service_ptr_t<input_info_writer> writer;
        entry.open_for_info_write(writer, file_ptr(), "a.fak", abort);
        EXPECT_EQ(g_counters.last_reason, input_open_info_write);
        EXPECT_EQ(g_counters.constructed, 3);

        service_ptr_t<input_decoder> second = decoder;  // a further reference
        decoder.release();
        EXPECT_EQ(g_counters.destroyed, 0);
        EXPECT_EQ(second->get_file_stats(abort), (t_filestats{42, 7}));
    }
    EXPECT_EQ(g_counters.destroyed, 3);
}

TEST_F(InputWrapper, FailedOpenDestroysTheObjectAndPassesTheException) {
    service_ptr_t<input_info_reader> reader;
    EXPECT_THROW(entry.open_for_info_read(reader, file_ptr(), "bad", abort), exception_io_unsupported_format);
    EXPECT_TRUE(reader.is_empty());
    EXPECT_EQ(g_counters.constructed, 1);
    EXPECT_EQ(g_counters.destroyed, 1);
}

TEST_F(InputWrapper, OnlyTrackZeroExists) {
    service_ptr_t<input_decoder> decoder;
    entry.open_for_decoding(decoder, file_ptr(), "a.fak", abort);
    EXPECT_EQ(decoder->get_subsong_count(), 1u);
    EXPECT_EQ(decoder->get_subsong(0), 0u);
    EXPECT_THROW(decoder->initialize(1, 0, abort), exception_io_data);
    EXPECT_EQ(g_counters.inits, 0);
    decoder->initialize(0, 0, abort);
    EXPECT_EQ(g_counters.inits, 1);
    EXPECT_TRUE(decoder->can_seek());

    file_info_impl info;
    EXPECT_THROW(decoder->get_info(2, info, abort), exception_io_data);
    decoder->get_info(0, info, abort);
    EXPECT_STREQ(info.meta_get("title", 0), "a.fak");

    service_ptr_t<input_info_writer> writer;
    entry.open_for_info_write(writer, file_ptr(), "a.fak", abort);
    try {
        writer->set_info(1, info, abort);
        FAIL() << "track 1 accepted";
    } catch (const exception_io_data& e) {
        EXPECT_STREQ(e.what(), "Unsupported format or corrupted file");
    }
    writer->set_info(0, info, abort);
    writer->commit(abort);
    EXPECT_EQ(g_counters.retags, 1);
}

TEST_F(InputWrapper, QueryWalksTheInterfaceChainOnly) {
    service_ptr_t<input_decoder> decoder;
    entry.open_for_decoding(decoder, file_ptr(), "a.fak", abort);
    service_ptr_t<input_info_reader> as_reader;
    EXPECT_TRUE(decoder.service_query_t(as_reader));
    EXPECT_EQ(static_cast<input_info_reader*>(decoder.get_ptr()), as_reader.get_ptr());
    service_ptr_t<service_base> as_base;
    EXPECT_TRUE(decoder.service_query_t(as_base));
    service_ptr_t<input_info_writer> as_writer;
    EXPECT_FALSE(decoder.service_query_t(as_writer));
    EXPECT_TRUE(as_writer.is_empty());
    service_ptr_t<input_entry> as_entry;
    EXPECT_FALSE(as_reader.service_query_t(as_entry));
}

TEST(ExceptionTexts, AreTheHostsFixedTexts) {
    EXPECT_STREQ(exception_io().what(), "I/O error");
    EXPECT_STREQ(exception_io_data().what(), "Unsupported format or corrupted file");
    EXPECT_STREQ(exception_io_unsupported_format().what(), "Unsupported file format");
    EXPECT_STREQ(exception_album_art_not_found().what(), "Album Art Not Found");
    EXPECT_STREQ(exception_album_art_unsupported_entry().what(), "Unsupported Album Art Entry");
    // Families: every one of them is an I/O failure.
    EXPECT_THROW(throw exception_io_unsupported_format(), exception_io_data);
    EXPECT_THROW(throw exception_album_art_not_found(), exception_io);
    EXPECT_THROW(throw exception_album_art_unsupported_entry(), exception_io);
}

TEST(InstallationValidator, ComparesTheFileNamePartExactly) {
    using V = component_installation_validator_filename;
    EXPECT_TRUE(V::g_matches("/usr/lib/player/corvina.dll", "corvina.dll"));
    EXPECT_TRUE(V::g_matches("C:\\Program Files\\player\\corvina.dll", "corvina.dll"));
    EXPECT_TRUE(V::g_matches("D:corvina.dll", "corvina.dll"));
    EXPECT_TRUE(V::g_matches("archive.zip|corvina.dll", "corvina.dll"));
    EXPECT_TRUE(V::g_matches("corvina.dll", "corvina.dll"));
    EXPECT_FALSE(V::g_matches("/x/Corvina.dll", "corvina.dll"));
    EXPECT_FALSE(V::g_matches("/x/corvina.dll.bak", "corvina.dll"));
    EXPECT_FALSE(V::g_matches("/x/corvina.so", "corvina.dll"));
    EXPECT_FALSE(V::g_matches("/x/", "corvina.dll"));
    EXPECT_FALSE(V::g_matches(nullptr, "corvina.dll"));
}

TEST(InputEntry, ExtensionOfAPath) {
    EXPECT_EQ(input_entry::g_extension("file:///m/a.OMA"), "OMA");
    EXPECT_EQ(input_entry::g_extension("C:\\m.x\\track"), "");
    EXPECT_EQ(input_entry::g_extension("/m.x/a.b.kdr"), "kdr");
    EXPECT_EQ(input_entry::g_extension(nullptr), "");
}

TEST(AlbumArtData, MemoryImplementationCopiesBytes) {
    const char bytes[] = "\x89PNG";
    album_art_data_ptr data = album_art_data_impl::g_create(bytes, 4);
    ASSERT_EQ(data->get_size(), 4u);
    EXPECT_EQ(std::memcmp(data->get_ptr(), bytes, 4), 0);

    service_impl_single_t<album_art_extractor_instance_simple> instance;
    instance.set(album_art_ids::cover_front, data);
    abort_callback_dummy abort;
    EXPECT_EQ(instance.query(album_art_ids::cover_front, abort).get_ptr(), data.get_ptr());
    EXPECT_THROW(instance.query(album_art_ids::cover_back, abort), exception_album_art_not_found);
}

}  // namespace

namespace {

TEST(CallStackTracker, FollowsScopes) {
    EXPECT_TRUE(uCallStackTracker::g_get_stack().empty());
    {
        TRACK_CALL_TEXT("outer");
        {
            uCallStackTracker inner("inner");
            EXPECT_EQ(uCallStackTracker::g_get_stack(), (std::vector<std::string>{"outer", "inner"}));
        }
        EXPECT_EQ(uCallStackTracker::g_get_stack(), std::vector<std::string>{"outer"});
    }
    EXPECT_TRUE(uCallStackTracker::g_get_stack().empty());
}

}  // namespace

namespace {

int g_live_versions = 0;

class counted_version : public componentversion {
  public:
    counted_version() { ++g_live_versions; }
    ~counted_version() { --g_live_versions; }
    void get_file_name(std::string& out) override { out = "x"; }
    void get_component_name(std::string& out) override { out = "counted"; }
    void get_component_version(std::string& out) override { out = "1"; }
    void get_about_message(std::string& out) override { out.clear(); }
};

service_factory_t<counted_version> g_counted_factory;

TEST(ServiceFactory, ListsStaticFactoriesAndMakesNewObjectsPerRequest) {
    bool listed = false;
    for (service_factory_base* f = service_factory_base::list_head(); f; f = f->get_next()) {
        listed |= f == &g_counted_factory;
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(g_counted_factory.get_class_guid(), componentversion::class_guid);
    {
        service_ptr a, b;
        g_counted_factory.instance_create(a);
        g_counted_factory.instance_create(b);
        EXPECT_NE(a.get_ptr(), b.get_ptr());
        EXPECT_EQ(g_live_versions, 2);
        service_ptr_t<componentversion> typed;
        ASSERT_TRUE(a.service_query_t(typed));
        std::string name;
        typed->get_component_name(name);
        EXPECT_EQ(name, "counted");
    }
    EXPECT_EQ(g_live_versions, 0);
}

}  // namespace
