// Fake media library objects for the console program's tests: a root that
// records how it is created and told the identity, content and item objects
// that record every attribute call, and a picture whose references are counted
// so that a test sees whether every value array was cleared.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "library/media_library.h"
#include "platform/com/classtable.h"
#include "platform/com/memory.h"
#include "platform/com/variant.h"
#include "support/media_library_stubs.h"

namespace fakes {

// A picture value with a visible reference count and fixed data.
class FakePicture final : public platform::ComObject<FakePicture, testsupport::StubMediaPicture> {
  public:
    explicit FakePicture(std::vector<BYTE> data) : data_(std::move(data)) {}
    HRESULT GetData(ULONG* size, BYTE** data) override;
    // References other than the test's own.
    ULONG References() {
        AddRef();
        return Release();
    }

  private:
    std::vector<BYTE> data_;
};

// One attribute call as the item saw it.
struct AttributeCall {
    std::string op;  // "Get", "Set", "GetAt", "Load", "Close", "Count"
    ULONG id = 0;
    LONG count = 0;
    std::vector<std::u16string> values;  // the values of a Set, as text ("I4:3", "BSTR:x", "DATE:...")
};

// An item whose attributes live in a map; ids keep the order of insertion.
class FakeItem final : public platform::ComObject<FakeItem, MediaItem> {
  public:
    HRESULT Load(LPCWSTR path, LONG mode) override;
    HRESULT Close() override;
    HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) override;
    HRESULT SetAttribute(ULONG id, LONG count, VARIANT* values) override;
    HRESULT GetAttributeCount(LONG* count) override;
    HRESULT GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) override;

    // Test set-up.
    void Put(ULONG id, std::vector<platform::Variant> values);
    void PutText(ULONG id, std::u16string_view text) { Put(id, {platform::Variant::FromString(text)}); }
    void PutInt(ULONG id, LONG value) { Put(id, {platform::Variant::FromInt(value)}); }
    bool Has(ULONG id) const { return attributes_.count(id) != 0; }
    const std::vector<platform::Variant>& Values(ULONG id) { return attributes_[id]; }
    std::u16string Text(ULONG id, size_t index = 0);  // "" when absent or not text

    std::vector<AttributeCall> calls;
    std::map<ULONG, HRESULT> get_failures;  // GetAttribute fails with this status
    // With a failure above: the failed call still hands out an array whose one
    // element refers to this object without holding a reference, as a library
    // may leave half-made output behind. The caller must free the array without
    // clearing that element.
    std::map<ULONG, IUnknown*> failure_leftovers;
    std::map<ULONG, HRESULT> set_failures;  // SetAttribute fails with this status
    HRESULT load_result = S_OK;
    HRESULT close_result = S_OK;  // what Close answers (a failed save)
    std::u16string loaded_path;
    LONG loaded_mode = 0;
    int close_count = 0;

  private:
    std::vector<ULONG> order_;
    std::map<ULONG, std::vector<platform::Variant>> attributes_;
};

// The calls made on a fake root, shared with the test.
struct LibraryState {
    std::vector<int> versions_tried;  // interface versions asked for, 1..5
    int accepted_version = 1;         // the first version the fake answers (6: none)
    LONG is_initialized = 0;          // what IsInitialized answers
    HRESULT is_initialized_result = S_OK;
    HRESULT tell_result = S_OK;
    std::vector<std::string>
        calls;  // "Initialize", "SetApplication(285)", "SetApplication(285,2,null,null)", ...
    std::vector<std::u16string> opened;  // paths given to OpenContent
    // Paths that open, with the item that their class creates.
    std::map<std::u16string, ComPtr<FakeItem>> items;
    long references = 0;  // live references to the root
    bool destroyed = false;
    long live_contents = 0;
    ComPtr<FakeItem> next_item;  // the item that the next item creation gives
};

// Registers a fake root class (and the item class it names) for the life of
// the object. Every root created shares `state`.
class FakeLibraryRegistration {
  public:
    FakeLibraryRegistration();
    // A new item that opens for `path` (as the program passes it to OpenContent).
    ComPtr<FakeItem> Openable(const std::u16string& path);
    std::shared_ptr<LibraryState> state = std::make_shared<LibraryState>();

  private:
    platform::ClassRegistration root_;
    platform::ClassRegistration item_class_;
};

inline constexpr CLSID CLSID_FakeItem = platform::MakeGuid("{0F0F0F0F-1111-2222-3333-444455556666}");

// The text form used in AttributeCall::values.
std::u16string DescribeVariant(const VARIANT& value);

}  // namespace fakes
