// Stand-ins for every slot of the media library's interfaces, for the fakes of
// the test executables.
//
// Each Stub* class implements every method of its interface, the placeholder
// slots included, by answering E_NOTIMPL; an object out-pointer is set to
// null first, as a failing call leaves it, and no other argument is touched.
// A fake derives from one and overrides only the calls it records or answers.
// IUnknown is left to the fake: its own counting, or
// platform::ComObject<Fake, StubMediaItem> (a stub carries its interface's
// `iid`, so QueryInterface answers the real interface id).
#pragma once

#include "library/media_library.h"

namespace testsupport {

class StubMediaLibrary : public MediaLibrary {
  public:
    HRESULT Initialize() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT IsInitialized(LONG*) override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT GetItemClass(LONG, CLSID*) override { return E_NOTIMPL; }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT OpenContent(LPCWSTR, REFIID, void** content, LONG*, LONG*) override {
        if (content) *content = nullptr;
        return E_NOTIMPL;
    }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT Reserved14() override { return E_NOTIMPL; }
    HRESULT Reserved15() override { return E_NOTIMPL; }
    HRESULT SetProgressSink(ProgressSink*) override { return E_NOTIMPL; }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT SetWorkFolder(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT SetBitRate(LONG) override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT SetApplication(LONG) override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }
    HRESULT Convert(LONG, const ConvertSource*, LONG, const LONG*, LONG, LONG) override { return E_NOTIMPL; }
    HRESULT SetApplication(LONG, LONG, LPCWSTR, BSTR) override { return E_NOTIMPL; }

  protected:
    ~StubMediaLibrary() = default;
};

class StubMediaContent : public MediaContent {
  public:
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT CreatePlayer(REFIID, void** player) override {
        if (player) *player = nullptr;
        return E_NOTIMPL;
    }

  protected:
    ~StubMediaContent() = default;
};

class StubMediaItem : public MediaItem {
  public:
    HRESULT Load(LPCWSTR, LONG) override { return E_NOTIMPL; }
    HRESULT Close() override { return E_NOTIMPL; }
    HRESULT GetAttribute(ULONG, LONG*, VARIANT**) override { return E_NOTIMPL; }
    HRESULT SetAttribute(ULONG, LONG, VARIANT*) override { return E_NOTIMPL; }
    HRESULT GetAttributeCount(LONG*) override { return E_NOTIMPL; }
    HRESULT GetAttributeAt(LONG, ULONG*, LONG*, VARIANT**) override { return E_NOTIMPL; }

  protected:
    ~StubMediaItem() = default;
};

class StubMediaPicture : public MediaPicture {
  public:
    HRESULT GetProperty(ULONG, VARIANT*) override { return E_NOTIMPL; }
    HRESULT SetProperty(ULONG, const VARIANT*) override { return E_NOTIMPL; }
    HRESULT GetData(ULONG*, BYTE**) override { return E_NOTIMPL; }
    HRESULT SetData(ULONG, const BYTE*) override { return E_NOTIMPL; }
    HRESULT Save(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT Load(LPCWSTR) override { return E_NOTIMPL; }

  protected:
    ~StubMediaPicture() = default;
};

class StubMediaPlayer : public MediaPlayer {
  public:
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Open(LPCWSTR, LONG) override { return E_NOTIMPL; }
    HRESULT Close() override { return E_NOTIMPL; }
    HRESULT Run() override { return E_NOTIMPL; }
    HRESULT Stop() override { return E_NOTIMPL; }
    HRESULT Pause() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT Reserved12() override { return E_NOTIMPL; }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT Reserved14() override { return E_NOTIMPL; }
    HRESULT Reserved15() override { return E_NOTIMPL; }
    HRESULT Reserved16() override { return E_NOTIMPL; }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT GetDuration(LONG*) override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Seek(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT GetState(SHORT*) override { return E_NOTIMPL; }

  protected:
    ~StubMediaPlayer() = default;
};

class StubMediaPlayerGraph : public MediaPlayerGraph {
  public:
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT GetRenderer(REFIID, void** filter) override {
        if (filter) *filter = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetGraph(REFIID, void** graph) override {
        if (graph) *graph = nullptr;
        return E_NOTIMPL;
    }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT GetUpstreamPin(REFIID, IUnknown*, LPCWSTR, REFIID, void** object, void** pin) override {
        if (object) *object = nullptr;
        if (pin) *pin = nullptr;
        return E_NOTIMPL;
    }

  protected:
    ~StubMediaPlayerGraph() = default;
};

}  // namespace testsupport
