// The COM classes of the media library module and how each is created.
//
// The module is an in-process server: the registry names it for the root
// class, the picture class and the item class, and its exported
// DllGetClassObject hands out one class factory per class. Objects are plain
// ComObject classes over the engine's COM-free core (medialib/core).
#pragma once

#include "library/media_library.h"

namespace medialib {

// The class of every MediaItem this library makes (GetItemClass answers it
// for every format id it knows).
inline constexpr CLSID CLSID_MediaItem = platform::MakeGuid("{1C93C71D-324B-4FEB-A50F-556EE3A4EDB0}");

// Status codes of this library's own.
inline constexpr HRESULT MEDIALIB_E_NOATTRIBUTE = static_cast<HRESULT>(0x80041001);  // attribute absent
inline constexpr HRESULT MEDIALIB_E_NOTLOADED = static_cast<HRESULT>(0x80041002);    // item has no file
inline constexpr HRESULT MEDIALIB_E_READONLY = static_cast<HRESULT>(0x80041003);     // loaded for reading
inline constexpr HRESULT MEDIALIB_E_UNSUPPORTED = static_cast<HRESULT>(0x80041004);  // format cannot store it
inline constexpr HRESULT MEDIALIB_E_UNKNOWNFORMAT = static_cast<HRESULT>(0x80041005);
inline constexpr HRESULT MEDIALIB_E_WRITEFAILED = static_cast<HRESULT>(0x80041006);
inline constexpr HRESULT MEDIALIB_E_NOTINITIALIZED = static_cast<HRESULT>(0x80041007);
inline constexpr HRESULT MEDIALIB_E_PROTECTED = static_cast<HRESULT>(0x80041008);  // audio cannot be decoded

// Creation functions: each makes a new object and queries `riid` on it.
HRESULT CreateLibraryRootObject(REFIID riid, void** object);
HRESULT CreatePictureObject(REFIID riid, void** object);
HRESULT CreateItemObject(REFIID riid, void** object);
// A player (MediaPlayer and MediaPlayerGraph) with no file open yet.
HRESULT CreatePlayerObject(REFIID riid, void** object);

}  // namespace medialib
