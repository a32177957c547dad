#include "library/identity.h"

#include "platform/com/apartment.h"
#include "platform/com/classtable.h"
#include "platform/registry/registry.h"

namespace library {
namespace {

struct IdentityRow {
    LONG application_id;
    const char16_t* first_key;
    const char16_t* second_key;
    const char16_t* plugin_registry_key;  // null: none
};

constexpr IdentityRow kIdentityRows[] = {
    {285, u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\11D",
     u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\11D",
     u"SOFTWARE\\Sony Corporation\\LISMO Port\\SonicStage\\Plugin\\PC"},
    {297, u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{5081AA38-1446-4FA6-91E0-4D63C710B409}\\129",
     u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\129",
     u"SOFTWARE\\Sony Corporation\\SonicStage V\\Plugin\\PC"},
    {259, u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{431EBBC6-2F70-4F73-9846-3184124AB34D}\\103",
     u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\103",
     u"SOFTWARE\\Sony Corporation\\SonicStage\\Plugin\\PC"},
    {1028, u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{431EBBC6-2F70-4F73-9846-3184124AB34D}\\404",
     u"SOFTWARE\\Sony Corporation\\OpenMG\\PC\\{ED976567-8C40-419B-9B8F-D6ED61463F56}\\404", nullptr},
};

// The plug-in's process-wide root. Plain pointer by design: the host creates it
// on its start-up thread and only a failed start-up leads to later creation.
MediaLibrary* g_media_library = nullptr;

}  // namespace

void ApplicationIdentity::Reset() {
    ApplicationId = 0;
    Mode = 2;
    SysFreeString(PluginRegistryKey);
    PluginRegistryKey = nullptr;
    SysFreeString(Extra);
    Extra = nullptr;
}

bool CreateLibraryRoot(MediaLibrary** root, int* version) {
    *root = nullptr;
    *version = 0;
    for (int v = 1; v <= 5; ++v) {
        void* object = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_MediaLibrary, nullptr, CLSCTX_INPROC_SERVER,
                                      kMediaLibraryInterfaceIds[v - 1], &object);
        if (SUCCEEDED(hr) && object) {
            *root = static_cast<MediaLibrary*>(object);
            *version = v;
            return true;
        }
    }
    return false;
}

LONG DetectApplicationIdentity(BSTR* plugin_registry_key) {
    if (plugin_registry_key) *plugin_registry_key = nullptr;
    for (const IdentityRow& row : kIdentityRows) {
        HKEY first = nullptr;
        HKEY second = nullptr;
        const bool first_open =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.first_key, 0, KEY_READ, &first) == ERROR_SUCCESS;
        const bool second_open =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.second_key, 0, KEY_READ, &second) == ERROR_SUCCESS;
        if (first_open) RegCloseKey(first);
        if (second_open) RegCloseKey(second);
        if (first_open && second_open) {
            if (plugin_registry_key && row.plugin_registry_key)
                *plugin_registry_key = SysAllocString(row.plugin_registry_key);
            return row.application_id;
        }
    }
    return 0;
}

HRESULT TellApplicationIdentity(MediaLibrary* root, int version, LONG application_id, LONG mode, BSTR extra,
                                bool plain_when_none) {
    if (plain_when_none && application_id <= 0) return root->Initialize();
    if (version == 5) return root->Initialize();
    if (version == 4) return root->SetApplication(application_id);
    return root->SetApplication(application_id, mode, nullptr, extra);
}

void FillApplicationIdentity(ApplicationIdentity& identity) {
    identity.IsGiven = false;
    identity.Reset();
    identity.ApplicationId = DetectApplicationIdentity(&identity.PluginRegistryKey);
}

namespace {
void BeginOverride(ApplicationIdentity& identity) {
    if (identity.IsGiven) return;
    identity.Reset();
    identity.IsGiven = true;
}
}  // namespace

void OverrideApplicationId(ApplicationIdentity& identity, bool has_value, LONG application_id) {
    BeginOverride(identity);
    if (has_value) identity.ApplicationId = application_id;
}

void OverridePluginRegistryKey(ApplicationIdentity& identity, LPCWSTR value) {
    BeginOverride(identity);
    if (value) {
        SysFreeString(identity.PluginRegistryKey);
        identity.PluginRegistryKey = SysAllocString(value);
    }
}

bool EnsureApplicationTold(MediaLibrary* root, int version, const ApplicationIdentity& identity) {
    LONG count = 0;
    if (FAILED(root->IsInitialized(&count))) return false;
    if (count >= 1) return true;
    return SUCCEEDED(
        TellApplicationIdentity(root, version, identity.ApplicationId, identity.Mode, identity.Extra, false));
}

MediaLibrary* ProcessMediaLibrary() { return g_media_library; }

void ReleaseProcessMediaLibrary() {
    if (g_media_library) {
        g_media_library->Release();
        g_media_library = nullptr;
    }
}

bool CreateMediaLibrary() {
    if (g_media_library) return true;
    if (FAILED(CoInitialize(nullptr))) return false;
    MediaLibrary* root = nullptr;
    int version = 0;
    if (!CreateLibraryRoot(&root, &version)) {
        CoUninitialize();
        return false;
    }
    g_media_library = root;
    const LONG application_id = DetectApplicationIdentity(nullptr);
    const HRESULT hr = TellApplicationIdentity(root, version, application_id, 2, nullptr, true);
    if (SUCCEEDED(hr)) {
        CoUninitialize();
        return true;
    }
    g_media_library->Release();
    g_media_library = nullptr;
    CoUninitialize();
    return false;
}

}  // namespace library
