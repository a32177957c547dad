// The recording fakes of the media library's interfaces, one per interface,
// shared by every test executable: a root (MediaLibrary, all five versions),
// content, item and picture objects. The root and its class registration put
// every call into one log, so a test sees the order of calls across objects;
// an item also keeps its own structured record of attribute calls.
//
// Log entries of a library (LibraryState::log), in call order:
//   "create v<N>"          a creation of the root class asked for version N (0: IUnknown)
//   "Initialize", "IsInitialized", "SetApplication(<id>)",
//   "SetApplication(<id>,<mode>,<text|null>,<text|null>)", "GetItemClass(<n>)"
//   "OpenContent(<path>)"  with " wrong iid", " format not preset" (not 0) and
//                          " status not preset" (not E_FAIL) appended as they apply
//   "content QI item"      a content object was asked for MediaItem
//   "item <call>"          a call on an item the library made (see ItemCall::Text)
//   "<root|content|item> destroyed@<n>"  the object died; n is the dying
//                          thread's COM initialisation count
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "library/media_ids.h"
#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "platform/com/memory.h"
#include "platform/com/variant.h"
#include "support/media_library_stubs.h"

namespace testsupport {

using Log = std::vector<std::string>;

// Appends to a log under one process-wide lock: fakes are called from several
// threads at once.
void Append(Log* log, std::string entry);

// A value as text: "EMPTY", "I4:3", "BSTR:text", "DATE:2020/01/02", "R8:1.5",
// "UNKNOWN", or "VT:<n>" for any other type.
std::u16string DescribeVariant(const VARIANT& value);

// The name an attribute id has in library/media_ids.h ("Title"); the hex
// spelling for an id without one.
std::string AttributeName(ULONG id);

// One call on an item, as the item saw it.
struct ItemCall {
    std::string op;                      // "Load", "Close", "Get", "Set", "Count", "GetAt"
    ULONG id = 0;                        // Get, Set
    LONG count = 0;                      // Set: values given; Load: mode; GetAt: index
    std::vector<std::u16string> values;  // Set: DescribeVariant of each value; Load: the path
    // "Load(<mode>)", "Close", "Get(<name>)", "Set(<name> [<values>])",
    // "Count", "GetAt(<index>)".
    std::string Text() const;
};

// An item whose attributes live in a map. Attributes put through Put* keep
// their order for GetAttributeAt; GetAttribute hands out copies in a
// CoTaskMemAlloc'ed array, as the library does, so the sanitizers see every
// array the code under test fails to free.
class FakeMediaItem final : public platform::ComObject<FakeMediaItem, StubMediaItem> {
  public:
    using Values = std::vector<platform::Variant>;

    static ComPtr<FakeMediaItem> Make();

    HRESULT Load(LPCWSTR path, LONG mode) override;
    HRESULT Close() override;
    HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) override;
    HRESULT SetAttribute(ULONG id, LONG count, VARIANT* values) override;  // count 0 removes
    HRESULT GetAttributeCount(LONG* count) override;
    HRESULT GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) override;

    // Test set-up.
    void Put(ULONG id, Values values);
    void PutText(ULONG id, std::u16string_view text) { Put(id, {platform::Variant::FromString(text)}); }
    void PutTexts(ULONG id, std::initializer_list<std::u16string_view> texts);
    void PutInt(ULONG id, LONG value) { Put(id, {platform::Variant::FromInt(value)}); }
    void PutReal(ULONG id, double value);
    void PutDate(ULONG id, std::u16string_view text);  // yyyy/MM/dd[ HH:mm:ss]

    // What the item holds.
    bool Has(ULONG id) const { return attributes.count(id) != 0; }
    const Values& ValuesOf(ULONG id) { return attributes[id]; }
    std::u16string Text(ULONG id, size_t index = 0);  // text as is, other values described; "" when absent

    // The calls as text (ItemCall::Text), all or those that start with `prefix`.
    std::vector<std::string> Log() const;
    std::vector<std::string> Entries(const std::string& prefix) const;
    // The ids of the Get calls, in order.
    std::vector<ULONG> Gets() const;

    std::map<ULONG, Values> attributes;
    std::vector<ItemCall> calls;

    // Answers.
    std::map<ULONG, HRESULT> get_failures;  // GetAttribute fails with this status
    // With a failure above: the failed call still hands out an array whose one
    // element refers to this object (may be null) without holding a
    // reference, as a library may leave half-made output behind. The caller
    // must free the array without clearing that element.
    std::map<ULONG, IUnknown*> failure_leftovers;
    std::map<ULONG, LONG> failure_counts;   // the count such a failed call reports (default 1)
    std::set<ULONG> empty_successes;        // success with no value and no array
    std::set<ULONG> null_arrays;            // success with a count of 1 but no array
    std::map<ULONG, HRESULT> set_failures;  // SetAttribute fails with this status (after recording)
    HRESULT load_result = S_OK;
    HRESULT close_result = S_OK;
    std::function<void()> on_load;  // runs inside Load

    std::u16string loaded_path;
    LONG loaded_mode = 0;
    int close_count = 0;

    // When set, every call is also written there as "item <call>", and the
    // item's end as "item destroyed@<COM count>".
    testsupport::Log* shared_log = nullptr;

  private:
    friend class platform::ComObject<FakeMediaItem, StubMediaItem>;
    FakeMediaItem() = default;
    ~FakeMediaItem() override;
    void Record(ItemCall call);

    std::vector<ULONG> order_;
};

// A picture that keeps its bytes and MIME type like the library's and records
// every SetProperty, SetData and Save in a log shared with the test.
struct PictureLog {
    std::vector<std::u16string> mime_sets;        // every SetProperty(PictureMime) value, in order
    std::vector<std::vector<uint8_t>> data_sets;  // every SetData, in order
    std::vector<std::u16string> saves;            // every Save path
    long live = 0;                                // pictures alive
    long created = 0;
};

class FakeMediaPicture final : public platform::ComObject<FakeMediaPicture, StubMediaPicture> {
  public:
    using Bytes = std::vector<uint8_t>;

    static ComPtr<FakeMediaPicture> Make(Bytes data, std::u16string mime = u"",
                                         std::shared_ptr<PictureLog> log = std::make_shared<PictureLog>());

    HRESULT GetProperty(ULONG id, VARIANT* value) override;
    HRESULT SetProperty(ULONG id, const VARIANT* value) override;
    HRESULT GetData(ULONG* size, BYTE** data) override;
    HRESULT SetData(ULONG size, const BYTE* data) override;
    HRESULT Save(LPCWSTR path) override;

    const Bytes& data() const { return data_; }
    const std::u16string& mime() const { return mime_; }
    // References other than the caller's own.
    ULONG References() {
        AddRef();
        return Release();
    }

    // Failures to inject.
    HRESULT get_data_result = S_OK;
    HRESULT set_data_result = S_OK;
    HRESULT get_property_result = S_OK;
    HRESULT set_property_result = S_OK;
    HRESULT save_result = S_OK;  // the file is written only when this is S_OK

  private:
    friend class platform::ComObject<FakeMediaPicture, StubMediaPicture>;
    FakeMediaPicture(std::shared_ptr<PictureLog> log, Bytes data, std::u16string mime);
    ~FakeMediaPicture() override;

    std::shared_ptr<PictureLog> log_;
    Bytes data_;
    std::u16string mime_;
};

// Registers CLSID_MediaPicture as fake pictures for the object's life; each
// new picture gets the failures set here.
class FakePictureClass {
  public:
    FakePictureClass();
    std::shared_ptr<PictureLog> log = std::make_shared<PictureLog>();
    HRESULT create_result = S_OK;
    HRESULT set_data_result = S_OK;
    HRESULT set_property_result = S_OK;

  private:
    platform::ClassRegistration registration_;
};

// The class id under which the fake library's items are made.
inline constexpr CLSID CLSID_FakeMediaItem = platform::MakeGuid("{0F0F0F0F-1111-2222-3333-444455556666}");

// One MediaLibrary::Convert as the fake root saw it, with the settings in
// force at the time.
struct ConvertCall {
    std::u16string source;
    LONG code = 0;
    LONG rate = 0;
    std::u16string folder;
};

// What the fake does for one Convert: the states it reports, each with the
// result code and path given. An empty path reports no path.
struct ConvertReport {
    LONG state = 0;
    LONG code = 0;
    std::u16string path;
};

// How a fake library answers, and what was done to it; shared by the class
// registration, every root it makes and their content objects.
struct LibraryState {
    ~LibraryState() {
        for (std::thread& worker : workers) worker.join();
    }

    // The record of every call (first, so that it outlives the objects below,
    // whose ends it records).
    testsupport::Log log;

    // Creation of the root class.
    bool available = true;     // false: fails as an unregistered class would
    int accepted_version = 1;  // the lowest interface version (1..5) that gives an object; 6: none

    // The root's answers.
    HRESULT initialize_result = S_OK;
    HRESULT set_application_result = S_OK;
    HRESULT is_initialized_result = S_OK;
    LONG initialized_count = 0;  // what IsInitialized answers
    HRESULT item_class_result = S_OK;
    CLSID item_class = CLSID_FakeMediaItem;  // what GetItemClass answers

    // OpenContent: paths of `items` open, other paths only with
    // `open_any_path` (with a new item); the rest fail with STG_E_FILENOTFOUND.
    std::map<std::u16string, ComPtr<FakeMediaItem>> items;
    bool open_any_path = false;
    HRESULT open_result = S_OK;     // the status of an opening path (a failure opens nothing)
    bool open_gives_object = true;  // with a success: whether an object comes back
    LONG format_id = medialib::container::Oma;

    // The content object: whether it gives its item through QueryInterface.
    bool content_answers_item = false;
    HRESULT content_item_result = S_OK;  // a failure here is what that QueryInterface answers

    // More of the record.
    std::vector<int> versions_tried;     // interface versions asked for, 1..5
    std::vector<std::u16string> opened;  // paths given to OpenContent
    std::atomic<long> references{0};     // live references to roots
    std::atomic<long> live_contents{0};
    bool destroyed = false;           // a root died
    MediaLibrary* last = nullptr;     // the root made last (no reference held)
    ComPtr<FakeMediaItem> next_item;  // what the next creation of the item class gives

    // Conversion: "SetProgressSink", "SetBitRate(n)", "SetWorkFolder(f)",
    // "Convert" in call order, and each Convert's arguments.
    std::vector<std::string> convert_calls;
    std::vector<ConvertCall> conversions;
    HRESULT convert_result = S_OK;  // what Convert answers
    // Decides the reports of each Convert (index from 0); by default
    // DefaultConversion. The reports are sent from a thread of the fake's
    // own, as a library may do.
    std::function<std::vector<ConvertReport>(const ConvertCall&, size_t index)> on_convert;
    std::vector<std::thread> workers;
    ProgressSink* sink = nullptr;
    LONG bit_rate = 0;
    std::u16string work_folder;

    // Entries of `log` that are calls on a root: no creations, content, items,
    // opening or destructions.
    std::vector<std::string> RootCalls() const;
    size_t Count(const std::string& entry) const;
};

// The default conversion: writes "<folder>conv<index><ext>" (the extension of
// the code's container), makes it openable with a title, and reports 0x1001,
// 0x1006 and then 0x1003 with the asked code and that path.
std::vector<ConvertReport> DefaultConversion(LibraryState& state, const ConvertCall& call, size_t index);

// A root on `state`, outside any registration, with one reference.
MediaLibrary* NewFakeRoot(const std::shared_ptr<LibraryState>& state);

// Registers the fake root class and the fake item class for the object's life.
class FakeMediaLibrary {
  public:
    explicit FakeMediaLibrary(std::shared_ptr<LibraryState> shared = std::make_shared<LibraryState>());
    // A new item that opens for `path` (as OpenContent is given it).
    ComPtr<FakeMediaItem> Openable(const std::u16string& path);

    std::shared_ptr<LibraryState> state;

  private:
    platform::ClassRegistration root_;
    platform::ClassRegistration item_class_;
};

}  // namespace testsupport
