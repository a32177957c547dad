// Finding the media library and telling it which installed application it
// works for.
//
// The root object is created by class id with the newest of five interface
// versions that the installed library answers, tried oldest first; the
// version decides how the application identity is told (long or short
// SetApplication, or a plain Initialize). The identity is read from registry
// keys that Sony's player applications leave under HKEY_LOCAL_MACHINE.
//
// The plug-in keeps one process-wide root, created at host start-up and
// retried by every later open while it is missing; the console program creates
// its root once per run and tells the identity lazily, after its command line
// (which may override the identity) has been read.
#pragma once

#include "library/media_library.h"
#include "platform/com/memory.h"

namespace library {

// The console program's identity record; one per run, owned by its main routine.
struct ApplicationIdentity {
    bool IsGiven = false;              // set once the command line gave an identity option
    LONG ApplicationId = 0;            // 0: none
    LONG Mode = 2;                     // always 2
    BSTR PluginRegistryKey = nullptr;  // owned; null or empty: none
    BSTR Extra = nullptr;              // owned; nothing fills it

    ApplicationIdentity() = default;
    ApplicationIdentity(const ApplicationIdentity&) = delete;
    ApplicationIdentity& operator=(const ApplicationIdentity&) = delete;
    ~ApplicationIdentity() { Reset(); }
    // ApplicationId 0, Mode 2, both strings freed. IsGiven is left alone.
    void Reset();
};

// Creates the root object, trying interface versions 1 to 5 in turn. On
// success *root holds one reference and *version is 1..5; on failure both are
// cleared (null, 0) and false is returned. Needs COM on the calling thread.
bool CreateLibraryRoot(MediaLibrary** root, int* version);

// Reads the identity table from the registry (first row whose two keys both
// open). Returns 0 when no row matches. `plugin_registry_key`, when not null,
// receives a new string with the row's key path (null when none). Every key
// opened is closed again.
LONG DetectApplicationIdentity(BSTR* plugin_registry_key);

// Tells the library the identity by the means of its interface version.
// With `plain_when_none` (the plug-in) an id of 0 or less calls Initialize.
HRESULT TellApplicationIdentity(MediaLibrary* root, int version, LONG application_id, LONG mode, BSTR extra,
                                bool plain_when_none);

// Console program: fills the record at start-up (IsGiven false, Mode 2).
void FillApplicationIdentity(ApplicationIdentity& identity);

// Console program: the command-line overrides. The first such option of a run
// drops the detected identity; later ones change only their own field.
// `has_value` false: only the reset step is done.
void OverrideApplicationId(ApplicationIdentity& identity, bool has_value, LONG application_id);
void OverridePluginRegistryKey(ApplicationIdentity& identity, LPCWSTR value /* null: no value */);

// Console program: tells the identity unless the library says it already
// knows one (IsInitialized >= 1). Returns false on any failure.
bool EnsureApplicationTold(MediaLibrary* root, int version, const ApplicationIdentity& identity);

// Plug-in: the process-wide root object (null until created). No lock: it is
// created at host start-up and recreated only after that failed.
MediaLibrary* ProcessMediaLibrary();
// Releases and empties the process-wide root (host shutdown).
void ReleaseProcessMediaLibrary();
// Plug-in: makes sure the process-wide root exists and has been told the
// identity. Balances its own COM initialisation. True when the root exists.
bool CreateMediaLibrary();

}  // namespace library
