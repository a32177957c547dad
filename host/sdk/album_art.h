// Cover pictures: the services through which the host reads and edits the
// pictures of a file, and the picture data they exchange.
//
// An album art id (a GUID, see album_art_ids) names the kind of picture. An
// extractor opens a file and gives an instance that answers `query` per id; an
// editor's instance can also `set` and `remove` pictures and `commit` the
// changes. Picture data is an immutable counted byte block.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "host/sdk/abort_callback.h"
#include "host/sdk/exceptions.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/service.h"

namespace album_art_ids {
inline constexpr GUID cover_front = platform::MakeGuid("{F1E66F4E-FE09-4B94-91A3-67C23ED1445E}");
inline constexpr GUID cover_back = platform::MakeGuid("{CB552D19-86D5-434C-AC77-BB24ED567EE4}");
inline constexpr GUID disc = platform::MakeGuid("{3DBA9F36-F928-4FA4-879C-D3404759587E}");
inline constexpr GUID icon = platform::MakeGuid("{74CDF5B4-7053-4B3D-9A3C-5469F5826EEC}");
inline constexpr GUID artist = platform::MakeGuid("{9A654042-ACD1-43F7-BFCF-D3EC0FFE40FA}");
}  // namespace album_art_ids

class album_art_data : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{D84B26E1-0F37-4C9A-B5E2-7A61C3F98D04}");
    using t_interface_parent = service_base;

    // The encoded picture bytes; valid while the object lives.
    virtual const void* get_ptr() const = 0;
    virtual size_t get_size() const = 0;
};
using album_art_data_ptr = service_ptr_t<album_art_data>;

// Picture data held in memory.
class album_art_data_impl : public album_art_data {
  public:
    const void* get_ptr() const override { return m_data.data(); }
    size_t get_size() const override { return m_data.size(); }
    void set_data(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_data.assign(p, p + size);
    }
    // A new object holding a copy of `size` bytes at `data`.
    static album_art_data_ptr g_create(const void* data, size_t size);

  private:
    std::vector<uint8_t> m_data;
};

class album_art_extractor_instance : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{62E9A0D3-4B58-4F71-8C06-E93D2B7F15A4}");
    using t_interface_parent = service_base;

    // The picture of kind `what`; throws exception_album_art_not_found.
    virtual album_art_data_ptr query(const GUID& what, abort_callback& abort) = 0;
};
using album_art_extractor_instance_ptr = service_ptr_t<album_art_extractor_instance>;

// An instance that answers from pictures stored in it.
class album_art_extractor_instance_simple : public album_art_extractor_instance {
  public:
    void set(const GUID& what, const album_art_data_ptr& data) { m_content[what] = data; }
    bool have_item(const GUID& what) const { return m_content.count(what) != 0; }
    album_art_data_ptr query(const GUID& what, abort_callback&) override {
        auto it = m_content.find(what);
        if (it == m_content.end()) throw exception_album_art_not_found();
        return it->second;
    }

  private:
    std::map<GUID, album_art_data_ptr> m_content;
};

class album_art_editor_instance : public album_art_extractor_instance {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{AF57C3B8-9D12-4E60-B7A4-0C8E2F6D91B5}");
    using t_interface_parent = album_art_extractor_instance;

    // Stores `data` as the picture of kind `what`.
    virtual void set(const GUID& what, const album_art_data_ptr& data, abort_callback& abort) = 0;
    // Removes the picture of kind `what`.
    virtual void remove(const GUID& what) = 0;
    virtual void commit(abort_callback& abort) = 0;
};
using album_art_editor_instance_ptr = service_ptr_t<album_art_editor_instance>;

class album_art_extractor : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{13B8F4C2-E07A-4D95-A236-5F9C1B8E04D7}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = album_art_extractor;

    virtual bool is_our_path(const char* path, const char* extension) = 0;
    // An instance holding the file's pictures; throws exception_album_art_not_found.
    virtual album_art_extractor_instance_ptr open(const file_ptr& filehint, const char* path,
                                                  abort_callback& abort) = 0;

    // The first registered extractor (host services first, then each
    // component's in load and registration order) whose is_our_path accepts
    // `path` and its extension; false when none does.
    static bool g_get_interface(service_ptr_t<album_art_extractor>& out, const char* path);
    // Opens `path` with that extractor; throws exception_album_art_not_found
    // when no extractor claims it, or what the extractor throws.
    static album_art_extractor_instance_ptr g_open(const file_ptr& filehint, const char* path,
                                                   abort_callback& abort);
};

class album_art_editor : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{5C0D7E93-A8B4-4F26-91E7-3D6A0B5C82F1}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = album_art_editor;

    virtual bool is_our_path(const char* path, const char* extension) = 0;
    // An editing instance; throws exception_album_art_unsupported_entry.
    virtual album_art_editor_instance_ptr open(const file_ptr& filehint, const char* path,
                                               abort_callback& abort) = 0;

    // The first registered editor whose is_our_path accepts `path`, as for
    // extractors; false when none does.
    static bool g_get_interface(service_ptr_t<album_art_editor>& out, const char* path);
    // Opens `path` with that editor; throws exception_album_art_unsupported_entry
    // when no editor claims it, or what the editor throws.
    static album_art_editor_instance_ptr g_open(const file_ptr& filehint, const char* path,
                                                abort_callback& abort);
};
