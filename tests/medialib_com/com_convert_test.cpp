// MediaLibrary::Convert of the built module: the worker thread's reports to
// the sink, the file it names, and the calls it refuses.
#include <condition_variable>
#include <mutex>

#include "com_fixture.h"
#include "library/media_ids.h"
#include "support/processes.h"

namespace {

using comtest::Wide;

// Records every report; Wait returns once a final state has come.
class RecordingSink final : public ProgressSink {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = (riid == IID_ProgressSink || riid == IID_IUnknown) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Notify(LONG, LONG state, LONG code, LPCWSTR path, LONG percent, LONG, LONG* flag) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (flag) *flag = 1;
        states.push_back(state);
        percents.push_back(percent);
        if (state == 0x1003) {
            result_code = code;
            output = path ? path : u"";
        }
        if (state == 0x1003 || state == 0x1004) done_.notify_all();
        return S_OK;
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, std::chrono::seconds(30), [&] {
            return !states.empty() && (states.back() == 0x1003 || states.back() == 0x1004);
        });
    }
    std::vector<LONG> states;
    std::vector<LONG> percents;
    LONG result_code = 0;
    std::u16string output;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
};

class ComConvert : public comtest::MediaLibraryModule {
  protected:
    HRESULT Start(RecordingSink& sink, const std::filesystem::path& source, LONG code, LONG rate,
                  const std::filesystem::path& folder) {
        const std::u16string path = Wide(source);
        const std::u16string work = Wide(folder);
        const ConvertSource sources[1] = {{0, path.c_str()}};
        EXPECT_EQ(root_->SetProgressSink(&sink), S_OK);
        EXPECT_EQ(root_->SetBitRate(rate), S_OK);
        EXPECT_EQ(root_->SetWorkFolder(work.c_str()), S_OK);
        return root_->Convert(1, sources, 1, &code, 0, 0);
    }
    testsupport::ScopedTempDir dir_;
};

TEST_F(ComConvert, ReportsFromItsWorkerAndNamesTheNewFile) {
    const auto wav = dir_ / "tone.wav";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -f lavfi -i sine=duration=1 -ac 2 -c:a pcm_s16le " +
                                    testsupport::ShellQuote(wav.string()))
                  .exit_code,
              0);
    RecordingSink sink;
    ASSERT_EQ(Start(sink, wav, 0x90001, 1411200, dir_.path()), S_OK);
    ASSERT_TRUE(sink.Wait());
    EXPECT_EQ(sink.states.front(), 0x1001);
    EXPECT_EQ(sink.states.back(), 0x1003);
    EXPECT_EQ(sink.result_code, 0x90001);
    const std::filesystem::path output = platform::Utf16ToUtf8(sink.output);
    EXPECT_EQ(output.parent_path(), dir_.path());
    EXPECT_TRUE(std::filesystem::is_regular_file(output));
    ComPtr<MediaItem> item = Open(output, kMediaItemRead);
    ASSERT_TRUE(item);
    comtest::Values format, codec_number;
    Get(item.Get(), medialib::attr::Format, &format);
    Get(item.Get(), medialib::attr::Codec, &codec_number);
    EXPECT_EQ(format.Text(), u"9");
    EXPECT_EQ(codec_number.Text(), u"1");

    // The same request again gets a name of its own.
    RecordingSink again;
    ASSERT_EQ(Start(again, wav, 0x90001, 0, dir_.path()), S_OK);
    ASSERT_TRUE(again.Wait());
    EXPECT_NE(again.output, sink.output);
}

TEST_F(ComConvert, AConversionThatCannotBeMadeStopsWithoutAFile) {
    const auto wav = dir_ / "tone.wav";
    ASSERT_EQ(testsupport::RunShell("ffmpeg -v error -f lavfi -i sine=duration=1 -c:a pcm_s16le " +
                                    testsupport::ShellQuote(wav.string()))
                  .exit_code,
              0);
    const auto work = dir_ / "work";
    std::filesystem::create_directory(work);
    RecordingSink sink;
    ASSERT_EQ(Start(sink, wav, 0x90010, 132000, work), S_OK);  // ATRAC3 needs an encoder
    ASSERT_TRUE(sink.Wait());
    EXPECT_EQ(sink.states.back(), 0x1004);
    EXPECT_TRUE(std::filesystem::is_empty(work));
}

TEST_F(ComConvert, RefusesMalformedCalls) {
    const std::u16string path = u"/nowhere.wav";
    const ConvertSource sources[2] = {{0, path.c_str()}, {0, path.c_str()}};
    const LONG code = 0x10020001;
    EXPECT_EQ(root_->SetBitRate(-5), E_INVALIDARG);
    EXPECT_EQ(root_->SetWorkFolder(Wide(dir_.path()).c_str()), S_OK);
    EXPECT_EQ(root_->Convert(2, sources, 1, &code, 0, 0), E_INVALIDARG);
    EXPECT_EQ(root_->Convert(1, sources, 1, nullptr, 0, 0), E_POINTER);
    EXPECT_EQ(root_->Convert(1, nullptr, 1, &code, 0, 0), E_POINTER);
    // Without a sink the conversion still runs and reports to nobody.
    EXPECT_EQ(root_->SetProgressSink(nullptr), S_OK);
    EXPECT_EQ(root_->Convert(1, sources, 1, &code, 0, 0), S_OK);
}

}  // namespace
