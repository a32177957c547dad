#include "support/fake_media_library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>

#include "platform/com/apartment.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace testsupport {
namespace {

namespace attr = medialib::attr;

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

// Guards what several threads of a test may record at once (logs, opened paths).
std::mutex& RecordMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string Destroyed(const char* what) {
    return std::string(what) + " destroyed@" + std::to_string(platform::ComInitCount());
}

int VersionOf(REFIID riid) {
    for (int v = 1; v <= 5; ++v)
        if (riid == kMediaLibraryInterfaceIds[v - 1]) return v;
    return 0;
}

class FakeContent final : public platform::ComObject<FakeContent, StubMediaContent> {
  public:
    FakeContent(std::shared_ptr<LibraryState> state, ComPtr<FakeMediaItem> item)
        : state_(std::move(state)), item_(std::move(item)) {
        ++state_->live_contents;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid != IID_MediaItem) return ComObject::QueryInterface(riid, object);
        *object = nullptr;
        Append(&state_->log, "content QI item");
        if (!state_->content_answers_item) return E_NOINTERFACE;
        if (FAILED(state_->content_item_result)) return state_->content_item_result;
        return item_->QueryInterface(riid, object);
    }
    HRESULT CreatePlayer(REFIID riid, void** player) override {
        Append(&state_->log, "CreatePlayer");
        if (!state_->create_player) return StubMediaContent::CreatePlayer(riid, player);
        return state_->create_player(riid, player);
    }

  private:
    ~FakeContent() override {
        item_.Reset();
        Append(&state_->log, Destroyed("content"));
        --state_->live_contents;
    }
    friend class platform::ComObject<FakeContent, StubMediaContent>;

    std::shared_ptr<LibraryState> state_;
    ComPtr<FakeMediaItem> item_;
};

class FakeRoot final : public StubMediaLibrary {
  public:
    explicit FakeRoot(std::shared_ptr<LibraryState> state) : state_(std::move(state)) {
        ++state_->references;
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && VersionOf(riid) == 0) return E_NOINTERFACE;
        *object = static_cast<MediaLibrary*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override {
        ++refs_;
        return static_cast<ULONG>(++state_->references);
    }
    ULONG Release() override {
        const long left = --state_->references;
        if (--refs_ == 0) {
            Append(&state_->log, Destroyed("root"));
            state_->destroyed = true;
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT Initialize() override {
        Append(&state_->log, "Initialize");
        return state_->initialize_result;
    }
    HRESULT IsInitialized(LONG* count) override {
        Append(&state_->log, "IsInitialized");
        *count = state_->initialized_count;
        return state_->is_initialized_result;
    }
    HRESULT SetApplication(LONG id) override {
        Append(&state_->log, "SetApplication(" + std::to_string(id) + ")");
        return state_->set_application_result;
    }
    HRESULT SetApplication(LONG id, LONG mode, LPCWSTR reserved, BSTR extra) override {
        Append(&state_->log, "SetApplication(" + std::to_string(id) + "," + std::to_string(mode) + "," +
                                 (reserved ? Narrow(reserved) : "null") + "," +
                                 (extra ? Narrow(extra) : "null") + ")");
        return state_->set_application_result;
    }
    HRESULT GetItemClass(LONG format_id, CLSID* item_class) override {
        Append(&state_->log, "GetItemClass(" + std::to_string(format_id) + ")");
        *item_class = state_->item_class;
        return state_->item_class_result;
    }
    HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) override {
        const std::u16string text = path ? path : u"<null>";
        std::string entry = "OpenContent(" + Narrow(text) + ")";
        if (riid != IID_MediaContent) entry += " wrong iid";
        if (!format_id || *format_id != 0) entry += " format not preset";
        if (!status || *status != E_FAIL) entry += " status not preset";
        Append(&state_->log, entry);
        {
            std::lock_guard lock(RecordMutex());
            state_->opened.push_back(text);
        }
        *content = nullptr;
        ComPtr<FakeMediaItem> item;
        bool listed = false;
        if (auto it = state_->items.find(text); it != state_->items.end()) {
            item = it->second;
            listed = true;
        } else if (state_->open_any_path) {
            item = FakeMediaItem::Make();
            item->shared_log = &state_->log;
        } else {
            return STG_E_FILENOTFOUND;
        }
        if (FAILED(state_->open_result)) return state_->open_result;
        if (state_->open_gives_object) {
            // The item class gives a listed path's item (the test holds it);
            // a new item lives only as long as its content.
            if (listed) {
                std::lock_guard lock(RecordMutex());
                state_->next_item = item;
            }
            *content = static_cast<MediaContent*>(new FakeContent(state_, item));
        }
        *format_id = state_->format_id;
        *status = 0;
        return state_->open_result;
    }

    HRESULT SetProgressSink(ProgressSink* sink) override {
        state_->convert_calls.push_back("SetProgressSink");
        state_->sink = sink;
        return S_OK;
    }
    HRESULT SetBitRate(LONG rate) override {
        state_->convert_calls.push_back("SetBitRate(" + std::to_string(rate) + ")");
        state_->bit_rate = rate;
        return S_OK;
    }
    HRESULT SetWorkFolder(LPCWSTR folder) override {
        state_->convert_calls.push_back("SetWorkFolder(" + Narrow(folder) + ")");
        state_->work_folder = folder;
        return S_OK;
    }
    HRESULT Convert(LONG source_count, const ConvertSource* sources, LONG target_count, const LONG* code,
                    LONG, LONG) override {
        state_->convert_calls.push_back("Convert");
        if (source_count != 1 || target_count != 1 || sources[0].flags != 0) return E_INVALIDARG;
        ConvertCall call{sources[0].path, *code, state_->bit_rate, state_->work_folder};
        state_->conversions.push_back(call);
        if (FAILED(state_->convert_result)) return state_->convert_result;
        const size_t index = state_->conversions.size() - 1;
        std::vector<ConvertReport> reports =
            state_->on_convert ? state_->on_convert(call, index) : DefaultConversion(*state_, call, index);
        ProgressSink* sink = state_->sink;
        // The reports come from a thread of the library's own; the tool polls meanwhile.
        state_->workers.emplace_back([sink, reports = std::move(reports)] {
            for (const ConvertReport& report : reports) {
                LONG flag = 0;
                sink->Notify(0, report.state, report.code,
                             report.path.empty() ? nullptr : report.path.c_str(), 0, 0, &flag);
            }
        });
        return S_OK;
    }

  private:
    ~FakeRoot() = default;

    std::shared_ptr<LibraryState> state_;
    std::atomic<long> refs_{1};
};

}  // namespace

void Append(Log* log, std::string entry) {
    std::lock_guard lock(RecordMutex());
    log->push_back(std::move(entry));
}

std::u16string DescribeVariant(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return u"EMPTY";
        case VT_I4:
            return u"I4:" + platform::Utf8ToUtf16(std::to_string(value.lVal));
        case VT_BSTR:
            return u"BSTR:" + std::u16string(platform::BstrView(value.bstrVal));
        case VT_DATE:
            return u"DATE:" + platform::FormatDateText(value.date);
        case VT_R8: {
            char text[32];
            std::snprintf(text, sizeof(text), "%g", value.dblVal);
            return u"R8:" + platform::Utf8ToUtf16(text);
        }
        case VT_UNKNOWN:
            return u"UNKNOWN";
        default:
            return u"VT:" + platform::Utf8ToUtf16(std::to_string(value.vt));
    }
}

std::string AttributeName(ULONG id) {
    static const std::map<ULONG, const char*> kNames = {
        {attr::AlbumAlt, "AlbumAlt"},
        {attr::AlbumArtist, "AlbumArtist"},
        {attr::SortAlbumArtist, "SortAlbumArtist"},
        {attr::Title, "Title"},
        {attr::Genre, "Genre"},
        {attr::Album, "Album"},
        {attr::Artist, "Artist"},
        {attr::Lyricist, "Lyricist"},
        {attr::Composer, "Composer"},
        {attr::LinerNotesPicture, "LinerNotesPicture"},
        {attr::LyricsPicture, "LyricsPicture"},
        {attr::Jacket, "Jacket"},
        {attr::JacketAlt, "JacketAlt"},
        {attr::LyricsText, "LyricsText"},
        {attr::LinerNotesText, "LinerNotesText"},
        {attr::Subtitle, "Subtitle"},
        {attr::ReleaseYear, "ReleaseYear"},
        {attr::Location, "Location"},
        {attr::Extension, "Extension"},
        {attr::Release, "Release"},
        {attr::Import, "Import"},
        {attr::ArtistURL, "ArtistURL"},
        {attr::SortTitle, "SortTitle"},
        {attr::SortAlbum, "SortAlbum"},
        {attr::SortArtist, "SortArtist"},
        {attr::SortSubtitle, "SortSubtitle"},
        {attr::Duration, "Duration"},
        {attr::Format, "Format"},
        {attr::Codec, "Codec"},
        {attr::BitRate, "BitRate"},
        {attr::Size, "Size"},
        {attr::TrackNumber, "TrackNumber"},
        {attr::Channel, "Channel"},
        {attr::TrackNumberAlt, "TrackNumberAlt"},
        {attr::Frequency, "Frequency"},
        {attr::BitDepth, "BitDepth"},
        {attr::MilliSecond, "MilliSecond"},
        {attr::BitDepthAlt, "BitDepthAlt"},
        {attr::BitRateAlt, "BitRateAlt"},
        {attr::TotalTracks, "TotalTracks"},
    };
    if (auto it = kNames.find(id); it != kNames.end()) return it->second;
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(id));
    return text;
}

std::string ItemCall::Text() const {
    if (op == "Load") return "Load(" + std::to_string(count) + ")";
    if (op == "GetAt") return "GetAt(" + std::to_string(count) + ")";
    if (op == "Get") return "Get(" + AttributeName(id) + ")";
    if (op == "Set") {
        std::string text = "Set(" + AttributeName(id) + " [";
        for (size_t i = 0; i < values.size(); ++i) text += (i ? " " : "") + Narrow(values[i]);
        return text + "])";
    }
    return op;
}

// FakeMediaItem

ComPtr<FakeMediaItem> FakeMediaItem::Make() { return ComPtr<FakeMediaItem>::Adopt(new FakeMediaItem); }

FakeMediaItem::~FakeMediaItem() {
    if (shared_log) Append(shared_log, Destroyed("item"));
}

void FakeMediaItem::Record(ItemCall call) {
    if (shared_log) Append(shared_log, "item " + call.Text());
    calls.push_back(std::move(call));
}

HRESULT FakeMediaItem::Load(LPCWSTR path, LONG mode) {
    Record({"Load", 0, mode, {path ? path : u"<null>"}});
    loaded_path = path ? path : u"<null>";
    loaded_mode = mode;
    if (on_load) on_load();
    return load_result;
}

HRESULT FakeMediaItem::Close() {
    Record({"Close", 0, 0, {}});
    ++close_count;
    return close_result;
}

HRESULT FakeMediaItem::GetAttribute(ULONG id, LONG* count, VARIANT** values) {
    Record({"Get", id, 0, {}});
    *count = 0;
    *values = nullptr;
    if (auto f = get_failures.find(id); f != get_failures.end()) {
        if (auto l = failure_leftovers.find(id); l != failure_leftovers.end()) {
            *values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT)));
            VariantInit(*values);
            (*values)->vt = VT_UNKNOWN;
            (*values)->punkVal = l->second;  // no reference taken: not the caller's to release
            auto c = failure_counts.find(id);
            *count = c == failure_counts.end() ? 1 : c->second;
        }
        return f->second;
    }
    if (empty_successes.count(id)) return S_OK;
    if (null_arrays.count(id)) {
        *count = 1;
        return S_OK;
    }
    auto it = attributes.find(id);
    if (it == attributes.end()) return E_FAIL;
    const Values& stored = it->second;
    *values = static_cast<VARIANT*>(CoTaskMemAlloc(sizeof(VARIANT) * (stored.empty() ? 1 : stored.size())));
    for (size_t i = 0; i < stored.size(); ++i) {
        VariantInit(&(*values)[i]);
        VariantCopy(&(*values)[i], stored[i].Get());
    }
    *count = static_cast<LONG>(stored.size());
    return S_OK;
}

HRESULT FakeMediaItem::SetAttribute(ULONG id, LONG count, VARIANT* values) {
    ItemCall call{"Set", id, count, {}};
    for (LONG i = 0; i < count && values; ++i) call.values.push_back(DescribeVariant(values[i]));
    Record(std::move(call));
    if (auto f = set_failures.find(id); f != set_failures.end()) return f->second;
    if (count == 0) {
        attributes.erase(id);
        std::erase(order_, id);
        return S_OK;
    }
    Values copy(static_cast<size_t>(count));
    for (LONG i = 0; i < count; ++i) VariantCopy(copy[static_cast<size_t>(i)].Get(), &values[i]);
    Put(id, std::move(copy));
    return S_OK;
}

HRESULT FakeMediaItem::GetAttributeCount(LONG* count) {
    Record({"Count", 0, 0, {}});
    std::erase_if(order_, [this](ULONG id) { return attributes.count(id) == 0; });
    for (const auto& [id, values] : attributes)
        if (std::find(order_.begin(), order_.end(), id) == order_.end()) order_.push_back(id);
    *count = static_cast<LONG>(order_.size());
    return S_OK;
}

HRESULT FakeMediaItem::GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) {
    Record({"GetAt", 0, index, {}});
    if (index < 0 || static_cast<size_t>(index) >= order_.size()) return E_INVALIDARG;
    *id = order_[static_cast<size_t>(index)];
    const size_t mark = calls.size();
    testsupport::Log* shared = std::exchange(shared_log, nullptr);
    const HRESULT hr = GetAttribute(*id, count, values);
    shared_log = shared;
    calls.resize(mark);  // the inner read is not a call of its own
    return hr;
}

void FakeMediaItem::Put(ULONG id, Values values) {
    if (!attributes.count(id)) order_.push_back(id);
    attributes[id] = std::move(values);
}

void FakeMediaItem::PutTexts(ULONG id, std::initializer_list<std::u16string_view> texts) {
    Values values;
    for (auto text : texts) values.push_back(platform::Variant::FromString(text));
    Put(id, std::move(values));
}

void FakeMediaItem::PutReal(ULONG id, double value) {
    platform::Variant v;
    v->vt = VT_R8;
    v->dblVal = value;
    Put(id, {v});
}

void FakeMediaItem::PutDate(ULONG id, std::u16string_view text) {
    DATE date = 0;
    platform::ParseDateText(text, &date);
    Put(id, {platform::Variant::FromDate(date)});
}

std::u16string FakeMediaItem::Text(ULONG id, size_t index) {
    auto it = attributes.find(id);
    if (it == attributes.end() || index >= it->second.size()) return {};
    const VARIANT* value = it->second[index].Get();
    return value->vt == VT_BSTR ? std::u16string(platform::BstrView(value->bstrVal))
                                : DescribeVariant(*value);
}

std::vector<std::string> FakeMediaItem::Log() const { return Entries(""); }

std::vector<std::string> FakeMediaItem::Entries(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const ItemCall& call : calls) {
        std::string text = call.Text();
        if (text.rfind(prefix, 0) == 0) out.push_back(std::move(text));
    }
    return out;
}

std::vector<ULONG> FakeMediaItem::Gets() const {
    std::vector<ULONG> out;
    for (const ItemCall& call : calls)
        if (call.op == "Get") out.push_back(call.id);
    return out;
}

// FakeMediaPicture

ComPtr<FakeMediaPicture> FakeMediaPicture::Make(Bytes data, std::u16string mime,
                                                std::shared_ptr<PictureLog> log) {
    return ComPtr<FakeMediaPicture>::Adopt(
        new FakeMediaPicture(std::move(log), std::move(data), std::move(mime)));
}

FakeMediaPicture::FakeMediaPicture(std::shared_ptr<PictureLog> log, Bytes data, std::u16string mime)
    : log_(std::move(log)), data_(std::move(data)), mime_(std::move(mime)) {
    ++log_->live;
    ++log_->created;
}

FakeMediaPicture::~FakeMediaPicture() { --log_->live; }

HRESULT FakeMediaPicture::GetProperty(ULONG id, VARIANT* value) {
    if (FAILED(get_property_result)) return get_property_result;
    if (id != attr::PictureMime) return E_INVALIDARG;
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = platform::AllocBstr(mime_);
    return S_OK;
}

HRESULT FakeMediaPicture::SetProperty(ULONG id, const VARIANT* value) {
    if (id != attr::PictureMime || value->vt != VT_BSTR) return E_INVALIDARG;
    const std::u16string mime(platform::BstrView(value->bstrVal));
    log_->mime_sets.push_back(mime);
    if (FAILED(set_property_result)) return set_property_result;
    mime_ = mime;
    return S_OK;
}

HRESULT FakeMediaPicture::GetData(ULONG* size, BYTE** data) {
    *size = 0;
    *data = nullptr;
    if (FAILED(get_data_result)) return get_data_result;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(data_.empty() ? 1 : data_.size()));
    if (!copy) return E_OUTOFMEMORY;
    if (!data_.empty()) std::memcpy(copy, data_.data(), data_.size());
    *size = static_cast<ULONG>(data_.size());
    *data = copy;
    return S_OK;
}

HRESULT FakeMediaPicture::SetData(ULONG size, const BYTE* data) {
    log_->data_sets.emplace_back(data, data + size);
    if (FAILED(set_data_result)) return set_data_result;
    data_.assign(data, data + size);
    return S_OK;
}

HRESULT FakeMediaPicture::Save(LPCWSTR path) {
    log_->saves.push_back(path);
    if (FAILED(save_result)) return save_result;
    std::ofstream out(platform::Utf16ToUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) return STG_E_WRITEFAULT;
    out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
    return out ? S_OK : STG_E_WRITEFAULT;
}

FakePictureClass::FakePictureClass()
    : registration_(CLSID_MediaPicture, [this](REFIID riid, void** object) -> HRESULT {
          *object = nullptr;
          if (FAILED(create_result)) return create_result;
          ComPtr<FakeMediaPicture> picture = FakeMediaPicture::Make({}, u"", log);
          picture->set_data_result = set_data_result;
          picture->set_property_result = set_property_result;
          return picture->QueryInterface(riid, object);
      }) {}

// The library

std::vector<std::string> LibraryState::RootCalls() const {
    std::vector<std::string> out;
    for (const std::string& entry : log) {
        if (entry.rfind("create v", 0) == 0 || entry.rfind("content ", 0) == 0 ||
            entry.rfind("item ", 0) == 0 || entry.rfind("root destroyed", 0) == 0 ||
            entry.rfind("OpenContent(", 0) == 0)
            continue;
        out.push_back(entry);
    }
    return out;
}

size_t LibraryState::Count(const std::string& entry) const {
    return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
}

std::vector<ConvertReport> DefaultConversion(LibraryState& state, const ConvertCall& call, size_t index) {
    const LONG container = static_cast<LONG>(static_cast<ULONG>(call.code) >> 16);
    namespace c = medialib::container;
    const char16_t* extension = container == c::Omg       ? u".omg"
                                : container == c::Kdr     ? u".kdr"
                                : container == c::Wav     ? u".wav"
                                : container == c::ThreeGp ? u".3gp"
                                                          : u".oma";
    std::u16string folder = call.folder;
    if (!folder.empty() && folder.back() != u'/') folder.push_back(u'/');
    const std::u16string path = folder + u"conv" + platform::Utf8ToUtf16(std::to_string(index)) + extension;
    if (FILE* f = std::fopen(platform::NativePath(path).c_str(), "wb")) {
        std::fputs("converted", f);
        std::fclose(f);
    }
    ComPtr<FakeMediaItem> item = FakeMediaItem::Make();
    item->shared_log = &state.log;
    item->PutText(attr::Title, u"Converted");
    state.items[path] = item;
    return {{0x1001, 0, {}}, {0x1006, 0, {}}, {0x1003, call.code, path}};
}

MediaLibrary* NewFakeRoot(const std::shared_ptr<LibraryState>& state) { return new FakeRoot(state); }

FakeMediaLibrary::FakeMediaLibrary(std::shared_ptr<LibraryState> shared) : state(shared) {
    root_ = platform::ClassRegistration(CLSID_MediaLibrary, [shared](REFIID riid, void** object) -> HRESULT {
        *object = nullptr;
        const int version = VersionOf(riid);
        Append(&shared->log, "create v" + std::to_string(version));
        if (!shared->available) return REGDB_E_CLASSNOTREG;
        if (version != 0) shared->versions_tried.push_back(version);
        if (version == 0 || version < shared->accepted_version) return E_NOINTERFACE;
        *object = shared->last = NewFakeRoot(shared);
        return S_OK;
    });
    item_class_ =
        platform::ClassRegistration(CLSID_FakeMediaItem, [shared](REFIID riid, void** object) -> HRESULT {
            *object = nullptr;
            ComPtr<FakeMediaItem> item = std::move(shared->next_item);
            if (!item) return E_FAIL;
            return item->QueryInterface(riid, object);
        });
}

ComPtr<FakeMediaItem> FakeMediaLibrary::Openable(const std::u16string& path) {
    ComPtr<FakeMediaItem> item = FakeMediaItem::Make();
    item->shared_log = &state->log;
    state->items[path] = item;
    return item;
}

}  // namespace testsupport
