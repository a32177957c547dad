// Fake media library objects for the plug-in's tests: a root, content and
// item that record every call in one shared log, registered in the class
// table in place of the real library module.
//
// Every object logs its calls as short texts ("OpenContent(path)",
// "content QI item", "item destroyed", ...) and, when it dies, the calling
// thread's COM count, so tests can check both the order of calls and that
// every release happened while COM was still initialised.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "library/identity.h"
#include "library/media_library.h"
#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "platform/text/text.h"
#include "support/media_library_stubs.h"

namespace fakes {

using Log = std::vector<std::string>;

// Appends to a log; fakes may be called from several threads at once.
inline void Append(Log* log, std::string entry) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    log->push_back(std::move(entry));
}

// Releases the plug-in's process-wide library root and undoes a forced
// CoInitialize result, so that the next test starts without either.
inline void ForgetProcessLibrary() {
    CoInitialize(nullptr);
    library::ReleaseProcessMediaLibrary();
    CoUninitialize();
    platform::SetCoInitializeResultForTesting(S_OK);
}

// Counting base shared by the fakes: logs "<name> destroyed@<COM count>".
template <typename Interface>
class Counted : public Interface {
  public:
    Counted(Log* log, std::string name) : log_(log), name_(std::move(name)) {}
    virtual ~Counted() = default;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) {
            Append(log_, name_ + " destroyed@" + std::to_string(platform::ComInitCount()));
            delete this;
        }
        return n;
    }

  protected:
    Log* log_;
    std::string name_;

  private:
    std::atomic<ULONG> refs_{1};
};

class FakeItem final : public Counted<testsupport::StubMediaItem> {
  public:
    explicit FakeItem(Log* log) : Counted(log, "item") {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_MediaItem) return E_NOINTERFACE;
        *object = static_cast<MediaItem*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT Load(LPCWSTR, LONG mode) override {
        Append(log_, "item Load(" + std::to_string(mode) + ")");
        return S_OK;
    }
    HRESULT Close() override {
        Append(log_, "item Close");
        return S_OK;
    }
};

// A content object; with `answers_item` it also gives a MediaItem (a new
// FakeItem) when asked for one, as a library whose content carries the
// attribute interface does.
class FakeContent final : public Counted<testsupport::StubMediaContent> {
  public:
    using PlayerFactory = std::function<HRESULT(REFIID, void**)>;
    FakeContent(Log* log, bool answers_item, HRESULT item_result, PlayerFactory players = nullptr)
        : Counted(log, "content"),
          answers_item_(answers_item),
          item_result_(item_result),
          players_(std::move(players)) {}
    HRESULT CreatePlayer(REFIID riid, void** player) override {
        Append(log_, "CreatePlayer");
        if (!players_) return StubMediaContent::CreatePlayer(riid, player);
        return players_(riid, player);
    }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid == IID_MediaItem) {
            Append(log_, "content QI item");
            if (!answers_item_) return E_NOINTERFACE;
            if (FAILED(item_result_)) return item_result_;
            *object = static_cast<MediaItem*>(new FakeItem(log_));
            return S_OK;
        }
        if (riid != IID_IUnknown && riid != IID_MediaContent) return E_NOINTERFACE;
        *object = static_cast<MediaContent*>(this);
        AddRef();
        return S_OK;
    }

  private:
    bool answers_item_;
    HRESULT item_result_;
    PlayerFactory players_;
};

// How the fake root answers.
struct RootBehaviour {
    HRESULT open_result = S_OK;     // OpenContent's status
    bool open_gives_object = true;  // with a success: whether an object comes back
    LONG format_id = 9;             // what OpenContent reports
    bool content_answers_item = true;
    HRESULT content_item_result = S_OK;
    HRESULT item_class_result = S_OK;  // GetItemClass
    CLSID item_class{};                // what GetItemClass answers
    // What MediaContent::CreatePlayer makes (none: it fails).
    std::function<HRESULT(REFIID, void**)> create_player;
};

class FakeRoot final : public Counted<testsupport::StubMediaLibrary> {
  public:
    FakeRoot(Log* log, const RootBehaviour* behaviour) : Counted(log, "root"), behaviour_(behaviour) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        bool known = riid == IID_IUnknown;
        for (const IID& iid : kMediaLibraryInterfaceIds) known |= riid == iid;
        if (!known) return E_NOINTERFACE;
        *object = static_cast<MediaLibrary*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT Initialize() override {
        Append(log_, "Initialize");
        return S_OK;
    }
    HRESULT IsInitialized(LONG* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT SetApplication(LONG) override { return S_OK; }
    HRESULT SetApplication(LONG, LONG, LPCWSTR, BSTR) override { return S_OK; }
    HRESULT GetItemClass(LONG format_id, CLSID* item_class) override {
        Append(log_, "GetItemClass(" + std::to_string(format_id) + ")");
        *item_class = behaviour_->item_class;
        return behaviour_->item_class_result;
    }
    HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) override {
        std::string entry = "OpenContent(" + platform::Utf16ToUtf8(path ? path : u"<null>") + ")";
        if (riid != IID_MediaContent) entry += " wrong iid";
        if (!format_id || *format_id != 0) entry += " format not preset";
        if (!status || *status != E_FAIL) entry += " status not preset";
        Append(log_, entry);
        *content = nullptr;
        if (FAILED(behaviour_->open_result)) return behaviour_->open_result;
        if (behaviour_->open_gives_object) {
            auto* made = new FakeContent(log_, behaviour_->content_answers_item,
                                         behaviour_->content_item_result, behaviour_->create_player);
            *content = static_cast<MediaContent*>(made);
        }
        *format_id = behaviour_->format_id;
        *status = 0;
        return behaviour_->open_result;
    }

  private:
    const RootBehaviour* behaviour_;
};

// Registers the fake root class.
// With `available` false every creation of the root fails as an unregistered
// class would, hiding the real library of the registry.
class FakeLibrary {
  public:
    explicit FakeLibrary(Log* log)
        : log_(log), root_class_(CLSID_MediaLibrary, [this](REFIID riid, void** object) {
              Append(log_, "create root");
              if (!available) return REGDB_E_CLASSNOTREG;
              auto* root = new FakeRoot(log_, &behaviour);
              HRESULT hr = root->QueryInterface(riid, object);
              root->Release();
              return hr;
          }) {}

    bool available = true;
    RootBehaviour behaviour;

  private:
    Log* log_;
    platform::ClassRegistration root_class_;
};

}  // namespace fakes
