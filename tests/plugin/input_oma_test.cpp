// input_oma against fake library objects: library creation and its retry, the
// path forms, the open failures row by row, the wrappers' track rule, file
// stats, release order and COM balance per thread.
#include "plugin/input/input_oma.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "host/sdk/input_impl.h"
#include "library/identity.h"
#include "platform/com/apartment.h"
#include "platform/text/text.h"
#include "plugin/host/settings.h"
#include "plugin_library.h"
#include "support/test_support.h"

namespace {

using fakes::Log;

class InputOmaTest : public ::testing::Test {
  protected:
    // The root is process-wide: every test starts without one.
    void TearDown() override { fakes::ForgetProcessLibrary(); }

    // Opens `path` on a fresh object and returns the exception text ("" when it opened).
    template <typename Exception>
    std::string OpenExpecting(const char* path) {
        input_oma input;
        try {
            input.open(file_ptr(), path, input_open_info_read, abort);
        } catch (const Exception& e) {
            // The exact class, not a derived one (data and unsupported-format errors are I/O errors too).
            EXPECT_EQ(typeid(e), typeid(Exception));
            return e.what();
        }
        ADD_FAILURE() << "open succeeded";
        return "";
    }

    size_t Count(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
    bool Contains(const std::string& prefix) const {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& e) { return e.starts_with(prefix); });
    }

    testsupport::FakeMediaLibrary library{fakes::PluginLibraryState()};
    Log& log = library.state->log;
    abort_callback_dummy abort;
};

TEST_F(InputOmaTest, OpenCreatesTheMissingLibraryAndBindsContentAndItem) {
    ASSERT_EQ(library::ProcessMediaLibrary(), nullptr);
    input_oma input;
    input.open(file_ptr(), "/music/Song.oma", input_open_decode, abort);
    EXPECT_NE(library::ProcessMediaLibrary(), nullptr);
    EXPECT_NE(input.content(), nullptr);
    EXPECT_NE(input.item(), nullptr);
    const Log expected = {"create v1", "Initialize", "OpenContent(/music/Song.oma)", "content QI item"};
    EXPECT_EQ(log, expected);
}

TEST_F(InputOmaTest, LibraryCreationIsRetriedByEveryOpenUntilItWorks) {
    library.state->available = false;
    EXPECT_EQ(OpenExpecting<exception_io>("/music/a.oma"), "I/O error");
    EXPECT_EQ(OpenExpecting<exception_io>("/music/a.oma"), "I/O error");
    // Five interface versions per attempt, and no file was touched.
    EXPECT_EQ(fakes::Creations(log), 10u);
    EXPECT_FALSE(Contains("OpenContent"));
    EXPECT_EQ(platform::ComInitCount(), 0);

    library.state->available = true;
    input_oma input;
    input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
    EXPECT_NE(input.item(), nullptr);
    EXPECT_EQ(fakes::Creations(log), 11u);
    // Once it exists, later opens use it as it is.
    input_oma second;
    second.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
    EXPECT_EQ(fakes::Creations(log), 11u);
    EXPECT_EQ(Count("Initialize"), 1u);
}

TEST_F(InputOmaTest, PathFormsStripFileSchemeInAnyCaseAndUpperCaseTheKey) {
    struct Case {
        const char* host;
        const char16_t* library;
        const char16_t* key;
    } cases[] = {
        {"file:///music/Été.oma", u"/music/Été.oma", u"/MUSIC/ÉTÉ.OMA"},
        {"FILE:///music/x.oma", u"/music/x.oma", u"/MUSIC/X.OMA"},
        {"File:///music/x.oma", u"/music/x.oma", u"/MUSIC/X.OMA"},
        {"/music/file://x.oma", u"/music/file://x.oma", u"/MUSIC/FILE://X.OMA"},
        {"relative/y.KDR", u"relative/y.KDR", u"RELATIVE/Y.KDR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        input_oma input;
        input.open(file_ptr(), c.host, input_open_info_read, abort);
        EXPECT_EQ(input.host_path(), c.host);
        EXPECT_EQ(platform::BstrView(input.library_path()), c.library);
        EXPECT_EQ(platform::BstrView(input.key_path()), c.key);
        EXPECT_EQ(log.back(), "content QI item");
        EXPECT_EQ(log[log.size() - 2], "OpenContent(" + platform::Utf16ToUtf8(c.library) + ")");
    }
}

TEST_F(InputOmaTest, ComNotInitialisedOnTheThreadIsAnIoError) {
    platform::SetCoInitializeResultForTesting(E_OUTOFMEMORY);
    {
        input_oma input;
        EXPECT_FALSE(input.com_initialized());
        EXPECT_THROW(input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort), exception_io);
    }
    EXPECT_EQ(platform::ComInitCount(), 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(InputOmaTest, PathsThatCannotBeConvertedAreDataErrors) {
    const char* paths[] = {nullptr, "", "file://", "FILE://", "/music/\xff\xfe.oma", "/music/\xc3(.oma"};
    for (const char* path : paths) {
        SCOPED_TRACE(path ? path : "(null)");
        EXPECT_EQ(OpenExpecting<exception_io_data>(path), "Unsupported format or corrupted file");
    }
    EXPECT_FALSE(Contains("OpenContent"));
}

TEST_F(InputOmaTest, RefusedOpenIsUnsupportedFormat) {
    library.state->open_result = static_cast<HRESULT>(0x80041005);
    EXPECT_EQ(OpenExpecting<exception_io_unsupported_format>("/music/a.oma"), "Unsupported file format");
    // Success without an object counts as a refusal too.
    library.state->open_result = S_OK;
    library.state->open_gives_object = false;
    EXPECT_EQ(OpenExpecting<exception_io_unsupported_format>("/music/b.oma"), "Unsupported file format");
    EXPECT_FALSE(Contains("content QI item"));
}

TEST_F(InputOmaTest, ContentWithoutItemIsAnIoError) {
    library.state->content_answers_item = false;
    EXPECT_EQ(OpenExpecting<exception_io>("/music/a.oma"), "I/O error");
    library.state->content_answers_item = true;
    library.state->content_item_result = E_UNEXPECTED;
    EXPECT_EQ(OpenExpecting<exception_io>("/music/a.oma"), "I/O error");
    EXPECT_FALSE(Contains("GetItemClass(0)")) << "the item is asked of the content only";
    // The content made for the failed opens was released with its object.
    EXPECT_EQ(Count("content destroyed@1"), 2u);
}

TEST_F(InputOmaTest, DestructorReleasesItemThenContentWhileComIsStillUp) {
    {
        input_oma input;
        input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
        EXPECT_EQ(platform::ComInitCount(), 1);
        log.clear();
    }
    const Log expected = {"item destroyed@1", "content destroyed@1"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InputOmaTest, ComIsBalancedPerThread) {
    // Made and destroyed on a worker: the worker's count goes up for the
    // object's life and back; this thread's count never moves.
    std::thread worker([&] {
        {
            input_oma input;
            EXPECT_EQ(platform::ComInitCount(), 1);
            input.open(file_ptr(), "/music/a.oma", input_open_info_read, abort);
        }
        EXPECT_EQ(platform::ComInitCount(), 0);
        {
            input_oma failing;
            library.state->open_result = E_FAIL;
            EXPECT_THROW(failing.open(file_ptr(), "/music/a.oma", input_open_info_read, abort),
                         exception_io_unsupported_format);
        }
        EXPECT_EQ(platform::ComInitCount(), 0);
    });
    worker.join();
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InputOmaTest, DestroyedOnAnotherThreadLeavesThatThreadsComAlone) {
    CoInitialize(nullptr);  // this thread's own use of COM, which the object must not end
    auto* input = new input_oma;
    std::thread other([&] {
        delete input;
        EXPECT_EQ(platform::ComInitCount(), 0);
    });
    other.join();
    EXPECT_EQ(platform::ComInitCount(), 2);  // ours and the object's, which stays with this thread
    CoUninitialize();
    CoUninitialize();
}

TEST_F(InputOmaTest, ThreeRolesOnOneFileAreIndependentObjects) {
    auto entry = fb2k::service_new<input_entry_impl_t<input_oma>>();
    service_ptr_t<input_decoder> decoder;
    service_ptr_t<input_info_reader> reader;
    service_ptr_t<input_info_writer> writer;
    entry->open_for_decoding(decoder, file_ptr(), "/music/a.oma", abort);
    entry->open_for_info_read(reader, file_ptr(), "/music/a.oma", abort);
    entry->open_for_info_write(writer, file_ptr(), "/music/a.oma", abort);
    EXPECT_EQ(Count("OpenContent(/music/a.oma)"), 3u);
    EXPECT_EQ(Count("content QI item"), 3u);
    // Each object holds its own COM initialisation: 3 while all live.
    decoder.release();
    reader.release();
    writer.release();
    const Log expected = {"item destroyed@3",    "content destroyed@3", "item destroyed@2",
                          "content destroyed@2", "item destroyed@1",    "content destroyed@1"};
    EXPECT_EQ(Log(log.end() - 6, log.end()), expected);
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InputOmaTest, FailedOpenThroughTheEntryDestroysTheObject) {
    auto entry = fb2k::service_new<input_entry_impl_t<input_oma>>();
    library.state->content_answers_item = false;
    service_ptr_t<input_info_reader> reader;
    EXPECT_THROW(entry->open_for_info_read(reader, file_ptr(), "/music/a.oma", abort), exception_io);
    EXPECT_FALSE(reader.is_valid());
    EXPECT_EQ(Count("content destroyed@1"), 1u);
    EXPECT_EQ(platform::ComInitCount(), 0);
}

TEST_F(InputOmaTest, OnlyTrackZeroIsServed) {
    auto entry = fb2k::service_new<input_entry_impl_t<input_oma>>();
    service_ptr_t<input_decoder> decoder;
    entry->open_for_decoding(decoder, file_ptr(), "/music/a.oma", abort);
    EXPECT_EQ(decoder->get_subsong_count(), 1u);
    EXPECT_EQ(decoder->get_subsong(0), 0u);
    file_info_impl info;
    try {
        decoder->initialize(1, 0, abort);
        ADD_FAILURE() << "track 1 accepted";
    } catch (const exception_io_data& e) {
        EXPECT_STREQ(e.what(), "Unsupported format or corrupted file");
    }
    try {
        decoder->get_info(2, info, abort);
        ADD_FAILURE() << "track 2 accepted";
    } catch (const exception_io_data& e) {
        EXPECT_STREQ(e.what(), "Unsupported format or corrupted file");
    }
    service_ptr_t<input_info_writer> writer;
    entry->open_for_info_write(writer, file_ptr(), "/music/a.oma", abort);
    EXPECT_THROW(writer->set_info(1, info, abort), exception_io_data);
}

TEST_F(InputOmaTest, DecodingIsRefusedCleanly) {
    auto entry = fb2k::service_new<input_entry_impl_t<input_oma>>();
    service_ptr_t<input_decoder> decoder;
    entry->open_for_decoding(decoder, file_ptr(), "/music/a.oma", abort);
    try {
        decoder->initialize(0, 0, abort);
        ADD_FAILURE() << "decoding started";
    } catch (const exception_io_unsupported_format& e) {
        EXPECT_STREQ(e.what(), "Unsupported file format");
    }
    audio_chunk_impl chunk;
    EXPECT_FALSE(decoder->run(chunk, abort));
}

// 2020-01-01 00:00:00 UTC on the Windows file-time scale.
constexpr uint64_t kNewYear2020FileTime = (1577836800ull + 11644473600ull) * 10000000ull;

void SetModificationTime(const std::filesystem::path& path, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(InputOmaTest, FileStatsGiveSizeAndWindowsFileTime) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "Stats.oma";
    testsupport::WriteBytes(path, std::vector<uint8_t>(12345, 0x5a));
    SetModificationTime(path, 1577836800, 1234500);
    for (const std::string& host : {path.string(), "file://" + path.string()}) {
        input_oma input;
        input.open(file_ptr(), host.c_str(), input_open_info_read, abort);
        const t_filestats stats = input.get_file_stats(abort);
        EXPECT_EQ(stats.m_size, 12345u);
        EXPECT_EQ(stats.m_timestamp, kNewYear2020FileTime + 12345u);
    }
}

TEST_F(InputOmaTest, FileStatsOfAnUnreadableFileAreZeros) {
    input_oma unopened;
    t_filestats stats = unopened.get_file_stats(abort);
    EXPECT_EQ(stats.m_size, 0u);
    EXPECT_EQ(stats.m_timestamp, 0u);

    input_oma input;
    input.open(file_ptr(), "/nonexistent/folder/gone.oma", input_open_info_read,
               abort);  // the fake opens anything
    stats = input.get_file_stats(abort);
    EXPECT_EQ(stats.m_size, 0u);
    EXPECT_EQ(stats.m_timestamp, 0u);
}

TEST_F(InputOmaTest, EmptyFileHasSizeZeroAndItsTime) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "empty.oma";
    testsupport::WriteBytes(path, {});
    SetModificationTime(path, 1577836800, 0);
    input_oma input;
    input.open(file_ptr(), path.c_str(), input_open_info_read, abort);
    const t_filestats stats = input.get_file_stats(abort);
    EXPECT_EQ(stats.m_size, 0u);
    EXPECT_EQ(stats.m_timestamp, kNewYear2020FileTime);
}

}  // namespace

namespace {

// The host's settings page changes a switch on its own thread while other
// threads claim files by it; every claim sees one state or the other.
TEST(InputOmaSwitches, ClaimingWhileTheSwitchChangesOnAnotherThread) {
    std::atomic<bool> done{false};
    std::thread settings_page([&] {
        for (int i = 0; !done; ++i) cfg_support_3gp.set(i % 2 == 0);
    });
    for (int i = 0; i < 20000; ++i) {
        EXPECT_TRUE(input_oma::g_is_our_path("/music/x.oma", "oma"));
        (void)input_oma::g_is_our_path("/music/x.3gp", "3gp");
    }
    done = true;
    settings_page.join();
    cfg_support_3gp.set(false);
    EXPECT_FALSE(input_oma::g_is_our_path("/music/x.3gp", "3gp"));
}

}  // namespace
