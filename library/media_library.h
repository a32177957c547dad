// The media library's COM interfaces as both deliverables call them.
//
// This header is the binary contract between the callers (corvina, Quillet)
// and the media library module: methods sit in the library's slot order
// (slots 0 to 2 are IUnknown's), and slots the system never calls are kept as
// placeholders so that every later slot lands where the library has it. The
// library module implements these same declarations; it includes this one
// header and nothing else from the callers' side.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

// Root object class and the five interface versions, in the order tried.
inline constexpr CLSID CLSID_MediaLibrary = platform::MakeGuid("{787EB924-DF0E-4E88-8310-78305419C70C}");
inline constexpr IID IID_MediaLibraryV1 = platform::MakeGuid("{440511C5-7D8A-4AAD-AE94-13FE055C2AE4}");
inline constexpr IID IID_MediaLibraryV2 = platform::MakeGuid("{DE48CD22-F1F8-48CF-A5BA-BEDB1CC27222}");
inline constexpr IID IID_MediaLibraryV3 = platform::MakeGuid("{19F52663-E4A9-4086-9105-114AFD8A67F8}");
inline constexpr IID IID_MediaLibraryV4 = platform::MakeGuid("{1748719B-3FFD-4B33-B70E-B5F8BAA97577}");
inline constexpr IID IID_MediaLibraryV5 = platform::MakeGuid("{71C191D9-346F-4CA5-A8B0-1D12A86A2A3B}");
inline constexpr IID kMediaLibraryInterfaceIds[5] = {
    IID_MediaLibraryV1, IID_MediaLibraryV2, IID_MediaLibraryV3, IID_MediaLibraryV4, IID_MediaLibraryV5};

inline constexpr IID IID_MediaContent = platform::MakeGuid("{38050E26-1801-495F-BE54-FF9956FAA606}");
inline constexpr IID IID_MediaItem = platform::MakeGuid("{4BC42157-E3F9-4DDF-8A46-F14009D14078}");
inline constexpr CLSID CLSID_MediaPicture = platform::MakeGuid("{86A73304-15D9-49E6-847F-1281FEACC5DD}");
inline constexpr IID IID_MediaPicture = platform::MakeGuid("{0D341883-E16D-4B48-B9B2-65B3D1DA056E}");
inline constexpr IID IID_MediaPlayer = platform::MakeGuid("{69EA5B0E-1A56-4127-A727-6A3562756D1E}");
inline constexpr IID IID_MediaPlayerGraph = platform::MakeGuid("{2ED842AF-23EE-4385-9971-F05BA64F5AD4}");
inline constexpr IID IID_ProgressSink = platform::MakeGuid("{342BB6BD-9ACB-41B4-9B08-2B7F88EE9FE6}");

// Open modes of MediaItem::Load.
inline constexpr LONG kMediaItemRead = 1;
inline constexpr LONG kMediaItemWrite = 2;

// The MediaPicture property holding the MIME type (VT_BSTR) is
// medialib::attr::PictureMime (library/media_ids.h).

// The console program's conversion callback, implemented by the caller.
struct ProgressSink : IUnknown {
    static constexpr GUID iid = IID_ProgressSink;
    // Called by the library, possibly on a thread of its own. `flag` points to a
    // 32-bit value that the sink sets to 1.
    virtual HRESULT Notify(LONG unused, LONG state, LONG result_code, LPCWSTR output_path, LONG unused2,
                           LONG unused3, LONG* flag) = 0;  // slot 3
  protected:
    ~ProgressSink() = default;
};

// One source of MediaLibrary::Convert.
struct ConvertSource {
    LONG flags;    // always 0
    LPCWSTR path;  // the source file
};

struct MediaLibrary : IUnknown {
    virtual HRESULT Initialize() = 0;  // slot 3: no identity can be told
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT IsInitialized(LONG* count) = 0;  // slot 7: >= 1 once an identity was told
    virtual HRESULT Reserved8() = 0;
    virtual HRESULT GetItemClass(LONG format_id, CLSID* item_class) = 0;  // slot 9
    virtual HRESULT Reserved10() = 0;
    virtual HRESULT Reserved11() = 0;
    // slot 12: opens a file; gives a content object for `riid`, the file's format id and a status.
    virtual HRESULT OpenContent(LPCWSTR path, REFIID riid, void** content, LONG* format_id, LONG* status) = 0;
    virtual HRESULT Reserved13() = 0;
    virtual HRESULT Reserved14() = 0;
    virtual HRESULT Reserved15() = 0;
    virtual HRESULT SetProgressSink(ProgressSink* sink) = 0;  // slot 16
    virtual HRESULT Reserved17() = 0;
    virtual HRESULT SetWorkFolder(LPCWSTR folder) = 0;     // slot 18
    virtual HRESULT SetBitRate(LONG bits_per_second) = 0;  // slot 19
    virtual HRESULT Reserved20() = 0;
    virtual HRESULT SetApplication(LONG application_id) = 0;  // slot 21: short form
    virtual HRESULT Reserved22() = 0;
    // slot 23: (1, sources, 1, &format code, 0, 0)
    virtual HRESULT Convert(LONG source_count, const ConvertSource* sources, LONG target_count,
                            const LONG* format_code, LONG reserved1, LONG reserved2) = 0;
    // slot 24: long form (id, mode 2, null, null string)
    virtual HRESULT SetApplication(LONG application_id, LONG mode, LPCWSTR reserved, BSTR extra) = 0;

  protected:
    ~MediaLibrary() = default;
};

struct MediaContent : IUnknown {
    static constexpr GUID iid = IID_MediaContent;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT Reserved7() = 0;
    virtual HRESULT Reserved8() = 0;
    virtual HRESULT Reserved9() = 0;
    virtual HRESULT CreatePlayer(REFIID riid, void** player) = 0;  // slot 10

  protected:
    ~MediaContent() = default;
};

struct MediaItem : IUnknown {
    static constexpr GUID iid = IID_MediaItem;
    virtual HRESULT Load(LPCWSTR path, LONG mode) = 0;  // slot 3: 1 read, 2 write
    virtual HRESULT Close() = 0;                        // slot 4: writes pending changes
    // slot 5: values allocated with CoTaskMemAlloc; the caller clears each and frees the array.
    virtual HRESULT GetAttribute(ULONG id, LONG* count, VARIANT** values) = 0;
    // slot 6: count 0 (values null) removes the attribute. The caller keeps its array.
    virtual HRESULT SetAttribute(ULONG id, LONG count, VARIANT* values) = 0;
    virtual HRESULT GetAttributeCount(LONG* count) = 0;                                        // slot 7
    virtual HRESULT GetAttributeAt(LONG index, ULONG* id, LONG* count, VARIANT** values) = 0;  // slot 8

  protected:
    ~MediaItem() = default;
};

struct MediaPicture : IUnknown {
    static constexpr GUID iid = IID_MediaPicture;
    virtual HRESULT GetProperty(ULONG id, VARIANT* value) = 0;        // slot 3
    virtual HRESULT SetProperty(ULONG id, const VARIANT* value) = 0;  // slot 4
    // slot 5: bytes allocated with CoTaskMemAlloc; the caller frees them.
    virtual HRESULT GetData(ULONG* size, BYTE** data) = 0;
    virtual HRESULT SetData(ULONG size, const BYTE* data) = 0;  // slot 6: the caller keeps its buffer
    virtual HRESULT Save(LPCWSTR path) = 0;                     // slot 7
    virtual HRESULT Load(LPCWSTR path) = 0;                     // slot 8

  protected:
    ~MediaPicture() = default;
};

struct MediaPlayer : IUnknown {
    static constexpr GUID iid = IID_MediaPlayer;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Open(LPCWSTR path, LONG flags) = 0;  // slot 6
    virtual HRESULT Close() = 0;                         // slot 7
    virtual HRESULT Run() = 0;                           // slot 8
    virtual HRESULT Stop() = 0;                          // slot 9
    virtual HRESULT Pause() = 0;                         // slot 10: the graph then reports event 14
    virtual HRESULT Reserved11() = 0;
    virtual HRESULT Reserved12() = 0;
    virtual HRESULT Reserved13() = 0;
    virtual HRESULT Reserved14() = 0;
    virtual HRESULT Reserved15() = 0;
    virtual HRESULT Reserved16() = 0;
    virtual HRESULT Reserved17() = 0;
    virtual HRESULT Reserved18() = 0;
    virtual HRESULT GetDuration(LONG* milliseconds) = 0;  // slot 19
    virtual HRESULT Reserved20() = 0;
    virtual HRESULT Seek(LONG milliseconds, LONG mode) = 0;  // slot 21: mode 1 position, 2 beyond the end
    virtual HRESULT GetState(SHORT* state) = 0;              // slot 22: 3 ends the wait for data

  protected:
    ~MediaPlayer() = default;
};

struct MediaPlayerGraph : IUnknown {
    static constexpr GUID iid = IID_MediaPlayerGraph;
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT GetRenderer(REFIID riid, void** filter) = 0;  // slot 4: the audio output filter
    virtual HRESULT GetGraph(REFIID riid, void** graph) = 0;      // slot 5: the filter graph
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT Reserved7() = 0;
    virtual HRESULT Reserved8() = 0;
    virtual HRESULT Reserved9() = 0;
    virtual HRESULT Reserved10() = 0;
    virtual HRESULT Reserved11() = 0;
    // slot 12: the output pin that feeds the input pin `pin_id` of `filter`.
    virtual HRESULT GetUpstreamPin(REFIID filter_iid, IUnknown* filter, LPCWSTR pin_id, REFIID pin_iid,
                                   void** object, void** pin) = 0;

  protected:
    ~MediaPlayerGraph() = default;
};
