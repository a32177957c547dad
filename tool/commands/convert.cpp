#include "tool/commands/convert.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "library/media_ids.h"
#include "platform/console/console.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tool/commands/sequences.h"
#include "tool/common/numbers_paths.h"
#include "tool/tags/attribute_list.h"
#include "tool/tags/media_item.h"

namespace quillet {
namespace {

constexpr IID IID_IUnknownSink = platform::MakeGuid("{00000000-0000-0000-C000-000000000046}");

void SleepFor(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
void (*g_wait)(DWORD) = SleepFor;

constexpr LONG kPcmRate = 1411200;

// The words in the order they are tried, with their codes.
struct FileTypeRow {
    const char16_t* word;
    LONG code;
};
constexpr FileTypeRow kFileTypes[] = {
    {u"OMG", 0x10000},     {u"OMG3P", 0x10000},   {u"OMG3", 0x10010},     {u"OMGP", 0x10012},
    {u"OMGP3", 0x10012},   {u"OMA", 0x90000},     {u"OMA3P", 0x90000},    {u"AAL", 0x90000},
    {u"PCM", 0x90001},     {u"OMA3", 0x90010},    {u"OMAP", 0x90012},     {u"OMAP3", 0x90012},
    {u"AAL3", 0x90016},    {u"AALP", 0x90017},    {u"KDR", 0xA0000},      {u"KDR3P", 0xA0000},
    {u"KDR3", 0xA0010},    {u"KDRP", 0xA0012},    {u"KDRP3", 0xA0012},    {u"", 0x10020001},
    {u"WAV", 0x10020001},  {u"AAC", 0x10040000},  {u"AACLH", 0x10040000}, {u"AACHL", 0x10040000},
    {u"AACL", 0x10040002}, {u"AACH", 0x10040018},
};

constexpr LONG kTable1[] = {48000,  64000,  66000,  96000,  105000, 128000,
                            132000, 160000, 192000, 256000, 320000, 352000};
constexpr LONG kTable2[] = {66000, 105000, 132000};
constexpr LONG kTable3[] = {48000, 64000, 96000, 128000, 160000, 192000, 256000, 320000, 352000};
constexpr LONG kTable4[] = {48000, 66000, 105000, 132000, 160000, 192000, 256000, 320000, 352000};
constexpr LONG kTable6[] = {24000,  32000,  40000,  48000,  56000,  64000,  80000,  96000,
                            112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000};
constexpr LONG kTable7[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000, 112000,
                            128000, 144000, 160000, 192000, 224000, 256000, 320000};
constexpr LONG kTable8[] = {24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000};

// Table 0: the ATRAC codec a rate belongs to.
bool ClassifyAtrac(LONG rate, LONG* codec) {
    switch (rate) {
        case 66000:
        case 105000:
        case 132000:
            *codec = medialib::codec::Atrac3;
            return true;
        case 48000:
        case 64000:
        case 96000:
        case 128000:
        case 160000:
        case 192000:
        case 256000:
        case 320000:
        case 352000:
            *codec = medialib::codec::Atrac3Plus;
            return true;
        default:
            return false;
    }
}

// Table 5: the AAC codec a rate belongs to.
bool ClassifyAac(LONG rate, LONG* codec) {
    if (rate >= 97000 && rate <= 320000) {
        *codec = medialib::codec::AacLc;
        return true;
    }
    if (rate >= 24000 && rate <= 96999) {
        *codec = medialib::codec::HeAac;
        return true;
    }
    return false;
}

template <size_t N>
LONG Closest(const LONG (&rates)[N], LONG wanted) {
    LONG best = rates[0];
    long long best_diff = std::llabs(static_cast<long long>(wanted) - rates[0]);
    for (size_t i = 1; i < N; ++i) {
        const long long diff = std::llabs(static_cast<long long>(wanted) - rates[i]);
        if (diff <= best_diff) {  // a tie goes to the later, higher rate
            best = rates[i];
            best_diff = diff;
        }
    }
    return best;
}

// container × 65536 + codec, wrapping as the 32-bit code does.
LONG MakeCode(LONG container_number, LONG codec_number) {
    return static_cast<LONG>(static_cast<ULONG>(container_number) * 65536u +
                             static_cast<ULONG>(codec_number));
}

bool WordIs(const std::u16string& word, const char16_t* name) { return platform::EqualsNoCase(word, name); }

// The attributes whose content does not count towards the audio data. The
// ids without a name here are tag fields this program never shows.
constexpr ULONG kTagAttributes[] = {medialib::attr::AlbumArtist,
                                    medialib::attr::SortAlbumArtist,
                                    medialib::attr::Title,
                                    medialib::attr::Genre,
                                    4617,
                                    4618,
                                    medialib::attr::Album,
                                    4623,
                                    medialib::attr::Artist,
                                    medialib::attr::Lyricist,
                                    medialib::attr::Composer,
                                    medialib::attr::JacketAlt,
                                    medialib::attr::LinerNotesPicture,
                                    medialib::attr::LyricsPicture,
                                    medialib::attr::Jacket,
                                    medialib::attr::LyricsText,
                                    medialib::attr::LinerNotesText,
                                    medialib::attr::Subtitle,
                                    4658,
                                    medialib::attr::ReleaseYear,
                                    4694,
                                    5385,
                                    5386,
                                    medialib::attr::ArtistURL,
                                    5426,
                                    medialib::attr::SortTitle,
                                    medialib::attr::SortAlbum,
                                    medialib::attr::SortArtist,
                                    medialib::attr::SortSubtitle};
static_assert(sizeof(kTagAttributes) / sizeof(kTagAttributes[0]) == 29);

// The one-line progress display on standard error, only when that is a terminal.
class ProgressDisplay {
  public:
    ProgressDisplay() : start_(std::chrono::steady_clock::now()), terminal_(::isatty(2) == 1) {}
    ~ProgressDisplay() {
        if (terminal_ && shown_) Write("\r\x1b[K");
    }
    void Show(LONG percent) {
        if (!terminal_) return;
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_)
                .count();
        char line[64];
        std::snprintf(line, sizeof(line), "\rConverting %3ld%%  %02lld:%02lld", static_cast<long>(percent),
                      static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
        Write(line);
        shown_ = true;
    }

  private:
    static void Write(const char* text) {
        const ssize_t ignored = ::write(2, text, std::char_traits<char>::length(text));
        (void)ignored;
    }
    std::chrono::steady_clock::time_point start_;
    bool terminal_;
    bool shown_ = false;
};

bool IsWorking(LONG state) {
    return state == kConvertStarted || state == kConvertPending || state == kConvertWorking;
}

// One attempt; the converted file's path on success, else empty.
std::u16string RunAttempt(MediaLibrary* root, ConvertProgressSink& sink, const std::u16string& source,
                          LONG code, LONG rate, const std::u16string& folder, ProgressDisplay& display) {
    sink.Reset();
    const ConvertSource sources[1] = {{0, source.c_str()}};
    if (FAILED(root->SetProgressSink(&sink)) || FAILED(root->SetBitRate(rate)) ||
        FAILED(root->SetWorkFolder(folder.c_str())) || FAILED(root->Convert(1, sources, 1, &code, 0, 0))) {
        sink.DropPath();
        return {};
    }
    for (;;) {
        g_wait(500);
        const LONG state = sink.State();
        display.Show(sink.Percent());
        if (state == kConvertDone || state == kConvertStopped) break;
        if (IsWorking(state)) continue;
        g_wait(5000);  // a state of its own: stalled if it stays
        if (sink.State() == state) break;
    }
    std::u16string path;
    if (sink.State() == kConvertDone) path = sink.OutputPath();
    const bool ok = sink.State() == kConvertDone && sink.ResultCode() == code && IsExistingFile(path.c_str());
    if (!ok) {
        if (IsExistingFile(path.c_str())) DeleteFileW(path.c_str());
        sink.DropPath();
        return {};
    }
    sink.DropPath();
    return path;
}

// Tries every work folder in turn; the converted file's full path, or empty.
std::u16string ConvertInFolders(CommandRun& run, ConvertProgressSink& sink, const std::u16string& source,
                                LONG code, LONG rate, ProgressDisplay& display) {
    for (const NameValueList::Entry& folder : run.options.temp_folders) {
        const std::u16string path = RunAttempt(run.root, sink, source, code, rate, folder.Value(), display);
        if (path.empty()) continue;
        std::u16string full;
        if (SplitPath(path.c_str(), &full, nullptr, nullptr, nullptr) == 0) full = path;
        return full;
    }
    return {};
}

void AddWorkFolder(NameValueList& list, const std::u16string& folder) {
    if (folder.empty() || !IsMissingOrFolder(folder.c_str())) return;
    for (const NameValueList::Entry& entry : list) {
        if (platform::EqualsNoCase(entry.Value(), folder)) return;
    }
    list.Append(folder, folder);
}

void ExtendWorkFolders(CommandRun& run) {
    NameValueList& list = run.options.temp_folders;
    WCHAR buffer[260] = {};
    if (GetTempPathW(260, buffer) > 0 && buffer[0] != 0) AddWorkFolder(list, buffer);
    AddWorkFolder(list, run.output.folder);
    AddWorkFolder(list, run.target.folder);
    WCHAR module[260] = {};
    if (GetModuleFileNameW(nullptr, module, 260) > 0) {
        std::u16string folder;
        if (SplitPath(module, nullptr, &folder, nullptr, nullptr) != 0) AddWorkFolder(list, folder);
    }
}

void DeleteIfFile(const std::u16string& path) {
    if (IsExistingFile(path.c_str())) DeleteFileW(path.c_str());
}

}  // namespace

HRESULT ConvertProgressSink::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknownSink || riid == IID_ProgressSink) {
        *object = static_cast<ProgressSink*>(this);
        return S_OK;
    }
    return E_NOTIMPL;
}

HRESULT ConvertProgressSink::Notify(LONG, LONG state, LONG result_code, LPCWSTR output_path, LONG percent,
                                    LONG, LONG* flag) {
    if (flag) *flag = 1;
    if (state == kConvertDone) {
        result_code_ = result_code;
        output_path_.clear();
        // A doubled separator becomes a single one.
        for (const char16_t* p = output_path; p && *p; ++p) {
            if (*p == u'\\' && p[1] == u'\\') continue;
            output_path_.push_back(*p);
        }
        busy_.store(false, std::memory_order_release);
    } else {
        result_code_ = 0;
        output_path_.clear();
        busy_.store(IsWorking(state), std::memory_order_release);
        if (IsWorking(state) && percent >= 0 && percent <= 100)
            percent_.store(percent, std::memory_order_relaxed);
    }
    state_.store(state, std::memory_order_release);
    return S_OK;
}

void ConvertProgressSink::Reset() {
    busy_.store(true);
    state_.store(kConvertPending);
    result_code_ = 0;
    output_path_.clear();
    percent_.store(0);
}

LONG FileTypeCode(const std::u16string& word) {
    for (const FileTypeRow& row : kFileTypes) {
        if (WordIs(word, row.word)) return row.code;
    }
    return ParseNumber(word.c_str());
}

bool SnapBitRate(int table, LONG wanted, LONG* rate, LONG* codec) {
    *rate = wanted;
    switch (table) {
        case 0:
            return ClassifyAtrac(wanted, codec);
        case 1:
            *rate = Closest(kTable1, wanted);
            return ClassifyAtrac(*rate, codec);
        case 2:
            *rate = Closest(kTable2, wanted);
            *codec = medialib::codec::Atrac3;
            return true;
        case 3:
            *rate = Closest(kTable3, wanted);
            *codec = medialib::codec::Atrac3Plus;
            return true;
        case 4:
            *rate = Closest(kTable4, wanted);
            return ClassifyAtrac(*rate, codec);
        case 5:
            return ClassifyAac(wanted, codec);
        case 6:
            *rate = Closest(kTable6, wanted);
            return ClassifyAac(*rate, codec);
        case 7:
            *rate = Closest(kTable7, wanted);
            *codec = medialib::codec::AacLc;
            return true;
        case 8:
            *rate = Closest(kTable8, wanted);
            *codec = medialib::codec::HeAac;
            return true;
        case 9:
            *rate = Closest(kTable6, wanted);
            *codec = *rate == 24000 ? medialib::codec::HeAac : medialib::codec::AacLc;
            return true;
        default:
            return false;
    }
}

ConvertSourceInfo ReadConvertSource(MediaItem* item, LPCWSTR path) {
    using namespace medialib;
    LONG duration = ReadIntegerAttribute(item, attr::Duration);
    const LONG container_number = ReadIntegerAttribute(item, attr::Format);
    const LONG codec_number = ReadIntegerAttribute(item, attr::Codec);
    const LONG bit_rate = ReadIntegerAttribute(item, attr::BitRate);
    const LONG size_attribute = ReadIntegerAttribute(item, attr::Size);
    uint64_t size = size_attribute > 0 ? static_cast<ULONG>(size_attribute) : 0;
    ULONG header = 0;
    for (LONG value : {duration, container_number, codec_number, bit_rate, size_attribute}) {
        if (value > 0) header += 4;
    }
    if (duration <= 0) {
        const LONG milliseconds = ReadIntegerAttribute(item, attr::MilliSecond);
        if (milliseconds > 0) {
            duration = static_cast<LONG>((static_cast<long long>(milliseconds) + 500) / 1000);
            header += 4;
        }
    }
    if (size == 0) {
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD high = 0;
            const DWORD low = GetFileSize(file, &high);
            if (low != INVALID_FILE_SIZE && high == 0) size = low;
            CloseHandle(file);
        }
    }
    ConvertSourceInfo info;
    info.format_code = MakeCode(container_number, codec_number);
    info.bit_rate = bit_rate;
    if (bit_rate <= 0 && duration > 0 && size > 0) {
        ULONG remainder = static_cast<ULONG>(size) - header;
        for (ULONG id : kTagAttributes) remainder -= AttributeContentLength(item, id);
        info.bit_rate = static_cast<LONG>(remainder / static_cast<ULONG>(duration) * 8);
    }
    item->Close();
    return info;
}

ConvertChoice ChooseConvertFormat(const std::u16string& word, LONG bit_rate_option,
                                  const ConvertSourceInfo& source) {
    using namespace medialib;
    const LONG code = FileTypeCode(word);
    const LONG c = static_cast<LONG>(static_cast<ULONG>(code) >> 16);
    LONG k = code & 0xFFFF;
    LONG rate = 0;
    const LONG source_codec = source.format_code & 0xFFFF;
    const bool omg_or_kdr = c == container::Omg || c == container::Kdr;
    const bool oma = c == container::ProtectedOma || c == container::Oma;

    if (bit_rate_option < 0) {
        LONG snapped = 0;
        LONG new_codec = k;
        if (omg_or_kdr) {
            if (k == 0) {
                SnapBitRate(WordIs(word, u"OMG3P") || WordIs(word, u"KDR3P") ? 4 : 1, source.bit_rate,
                            &snapped, &new_codec);
                rate = snapped;
                if (c == container::Omg && new_codec == codec::Atrac3Plus) {
                    if (rate == 96000) {
                        new_codec = codec::Atrac3;
                        rate = 105000;
                    } else if (rate == 128000) {
                        new_codec = codec::Atrac3;
                        rate = 132000;
                    } else if (rate > 256000) {
                        rate = 256000;
                    }
                }
            } else if (k == codec::Atrac3) {
                SnapBitRate(2, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::Atrac3Plus) {
                SnapBitRate(3, source.bit_rate, &rate, &new_codec);
                if (c == container::Omg) {
                    if (rate == 96000)
                        rate = 64000;
                    else if (rate == 128000)
                        rate = 256000;
                    else if (rate > 256000)
                        rate = 256000;
                }
            }
        } else if (oma) {
            if (k == 0) {
                if (WordIs(word, u"AAL")) {
                    new_codec = codec::AalAtrac3Plus;
                    rate = 352000;
                } else {
                    SnapBitRate(WordIs(word, u"OMA3P") ? 4 : 1, source.bit_rate, &rate, &new_codec);
                }
            } else if (k == codec::Pcm) {
                rate = kPcmRate;
            } else if (k == codec::AacLc) {
                SnapBitRate(7, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::Atrac3) {
                SnapBitRate(2, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::Atrac3Plus) {
                SnapBitRate(3, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::AalAtrac3) {
                rate = 132000;
            } else if (k == codec::AalAtrac3Plus) {
                rate = 352000;
            } else if (k == codec::HeAac) {
                SnapBitRate(8, source.bit_rate, &rate, &new_codec);
            }
        } else if (c == container::ThreeGp) {
            if (k == 0) {
                SnapBitRate(WordIs(word, u"AACLH") ? 9 : 6, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::AacLc) {
                SnapBitRate(7, source.bit_rate, &rate, &new_codec);
            } else if (k == codec::HeAac) {
                SnapBitRate(8, source.bit_rate, &rate, &new_codec);
            }
        }
        k = new_codec;
        const LONG wanted = MakeCode(c, k);
        if ((source_codec == k && wanted != 0x60001 && wanted != 0x90001) ||
            (oma && source_codec == codec::AalAtrac3 && k == codec::Atrac3) ||
            (oma && source_codec == codec::AalAtrac3Plus && k == codec::Atrac3Plus))
            rate = 0;
        return {wanted, rate};
    }

    rate = bit_rate_option;
    if (k == 0) {
        LONG new_codec = 0;
        LONG ignored = 0;
        bool ok = false;
        if (omg_or_kdr) {
            ok = SnapBitRate(0, rate, &ignored, &new_codec);
        } else if (oma) {
            if (WordIs(word, u"OMA") || WordIs(word, u"OMA3P") || WordIs(word, u"AAL")) {
                ok = SnapBitRate(0, rate, &ignored, &new_codec);
                if (ok && WordIs(word, u"AAL")) {
                    if (new_codec == codec::Atrac3)
                        new_codec = codec::AalAtrac3;
                    else if (new_codec == codec::Atrac3Plus)
                        new_codec = codec::AalAtrac3Plus;
                }
            } else if (rate == kPcmRate) {
                new_codec = codec::Pcm;
                ok = true;
            } else {
                ok = SnapBitRate(0, rate, &ignored, &new_codec);
            }
        } else if (c == container::ThreeGp) {
            ok = SnapBitRate(5, rate, &ignored, &new_codec);
            if (ok && WordIs(word, u"AACLH")) new_codec = rate == 24000 ? codec::HeAac : codec::AacLc;
        }
        if (ok) k = new_codec;
    }
    return {MakeCode(c, k), rate};
}

LONG IntermediateCode(LONG final_code, LONG source_code) {
    struct Row {
        LONG target;
        LONG direct[7];
        LONG first;
    };
    static constexpr Row kRows[] = {
        {0x10010, {0x10010, 0x10012, 0x60010, 0x60012, 0x90010, 0x10010008, 0x10020001}, 0x60010},
        {0x10012, {0x10010, 0x10012, 0x60010, 0x60012, 0x90012, 0x10010008, 0x10020001}, 0x60012},
        {0x90001, {0x60001, 0x90001}, 0x60001},
        {0x90010, {0x60010, 0x90001, 0x90010, 0x90012, 0x90016, 0x10040002, 0x10040018}, 0x60010},
        {0x90012, {0x60012, 0x90001, 0x90010, 0x90012, 0x90017, 0x10040002, 0x10040018}, 0x60012},
        {0x90016, {0x60016, 0x90016}, 0x60016},
        {0x90017, {0x60017, 0x90017}, 0x60017},
        {0xA0010, {0x60010, 0x90010, 0xA0010}, 0x60010},
        {0xA0012, {0x60012, 0x90012, 0xA0012}, 0x60012},
    };
    for (const Row& row : kRows) {
        if (row.target != final_code) continue;
        for (LONG direct : row.direct) {
            if (direct != 0 && direct == source_code) return 0;
        }
        return row.first;
    }
    return 0;
}

void SetConvertWaitForTesting(void (*wait)(DWORD)) { g_wait = wait ? wait : SleepFor; }

bool RunConvertSequence(CommandRun& run) {
    CommandOptions& options = run.options;
    const ConvertSourceInfo source = ReadConvertSource(run.item.Get(), run.target.full.c_str());
    run.item.Reset();
    const ConvertChoice choice = ChooseConvertFormat(options.file_type, options.bit_rate, source);
    const LONG intermediate = IntermediateCode(choice.format_code, source.format_code);
    ExtendWorkFolders(run);

    ConvertProgressSink sink;
    ProgressDisplay display;
    std::u16string stage_two_source = run.target.full;
    LONG stage_two_rate = choice.bit_rate;
    if (intermediate != 0) {
        stage_two_source =
            ConvertInFolders(run, sink, run.target.full, intermediate, choice.bit_rate, display);
        if (stage_two_source.empty()) {
            run.exit_code = 1;
            return true;
        }
        stage_two_rate = 0;
    }
    std::u16string converted;
    if (IsExistingFile(stage_two_source.c_str()) && choice.format_code != 0)
        converted =
            ConvertInFolders(run, sink, stage_two_source, choice.format_code, stage_two_rate, display);
    if (!platform::EqualsNoCase(stage_two_source, run.target.full) &&
        !platform::EqualsNoCase(stage_two_source, converted))
        DeleteIfFile(stage_two_source);
    if (converted.empty()) {
        run.exit_code = 1;
        return true;
    }
    std::u16string extension;
    SplitPath(converted.c_str(), nullptr, nullptr, nullptr, &extension);
    for (char16_t& ch : extension) {
        if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
    }

    run.item = OpenMediaItem(run.root, converted.c_str());
    if (!run.item) {
        DeleteIfFile(converted);
        run.exit_code = 1;
        return false;
    }
    run.converted = converted;
    WCHAR digit[2] = {options.command_digit_char, 0};
    options.base.Append(digit, run.target.full.c_str());

    std::u16string given_extension;
    if (!options.output_path.empty())
        SplitPath(options.output_path.c_str(), nullptr, nullptr, nullptr, &given_extension);
    if (options.output_path.empty() || given_extension.empty()) {
        run.output_full = run.output.folder + run.output.base_name + extension;
    } else {
        run.output_full = run.output.full;
    }
    return RunPutSequence(run);
}

bool FinishConversion(CommandRun& run) {
    const std::u16string& converted = run.converted;
    if (converted.empty() || !IsExistingFile(converted.c_str()) ||
        platform::EqualsNoCase(converted, run.output_full))
        return true;
    if (run.item) {
        run.item->Close();
        run.item.Reset();
    }
    if (!run.options.force_write && !IsMissingOrFolder(run.output_full.c_str())) {
        DeleteFileW(converted.c_str());
        run.exit_code = 1;
        return false;
    }
    std::u16string folder;
    SplitPath(run.output_full.c_str(), nullptr, &folder, nullptr, nullptr);
    if (!folder.empty()) SHCreateDirectory(nullptr, folder.c_str());
    if (!MoveFileExW(converted.c_str(), run.output_full.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        DeleteIfFile(converted);
        run.exit_code = 1;
        return false;
    }
    run.item = OpenMediaItem(run.root, run.output_full.c_str());
    if (!run.item) {
        run.exit_code = 1;
        return false;
    }
    return true;
}

}  // namespace quillet
