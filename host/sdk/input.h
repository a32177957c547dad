// The input services through which the host decodes files, reads their
// information and writes it back.
//
// A component registers one `input_entry`. For every file the host wants to
// work on, it asks the entry for a new object of one of three kinds: a
// decoder, an info reader or an info writer. Each object is bound to one file
// for its whole life and is released by the host when done. Decoders and
// writers are info readers too (their interfaces derive from it).
#pragma once

#include <cstdint>
#include <vector>

#include "host/sdk/abort_callback.h"
#include "host/sdk/audio_chunk.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/service.h"

enum t_input_open_reason {
    input_open_info_read,
    input_open_decode,
    input_open_info_write,
};

class input_info_reader : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{2B8C0E6F-4A13-4C9D-A57E-93F0D21B6C84}");
    using t_interface_parent = service_base;

    // Number of tracks in the file.
    virtual uint32_t get_subsong_count() = 0;
    // Track number of index `index` (< get_subsong_count()).
    virtual uint32_t get_subsong(uint32_t index) = 0;
    // Fills `info` for track `subsong`; throws on failure.
    virtual void get_info(uint32_t subsong, file_info& info, abort_callback& abort) = 0;
    virtual t_filestats get_file_stats(abort_callback& abort) = 0;
};

class input_decoder : public input_info_reader {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{5E9D3A71-C06B-4F28-9B14-7A2E8C5D03F9}");
    using t_interface_parent = input_info_reader;

    enum { flag_no_seeking = 1 << 0, flag_no_looping = 1 << 1, flag_playback = 1 << 2 };

    // Prepares decoding of track `subsong` from its start; throws on failure.
    virtual void initialize(uint32_t subsong, unsigned flags, abort_callback& abort) = 0;
    // Delivers the next block into `chunk`; false at the end of the track.
    virtual bool run(audio_chunk& chunk, abort_callback& abort) = 0;
    virtual void seek(double seconds, abort_callback& abort) = 0;
    virtual bool can_seek() = 0;
    // Changed information during playback (e.g. bit rate); false when none.
    virtual bool get_dynamic_info(file_info& out, double& timestamp_delta) = 0;
    virtual bool get_dynamic_info_track(file_info& out, double& timestamp_delta) = 0;
    virtual void on_idle(abort_callback& abort) = 0;
};

class input_info_writer : public input_info_reader {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{8F41D6B2-7C05-4E93-A1D8-2C6B0F9E457A}");
    using t_interface_parent = input_info_reader;

    // Stores `info` as the information of track `subsong`; throws on failure.
    virtual void set_info(uint32_t subsong, const file_info& info, abort_callback& abort) = 0;
    // Finishes the write (after every set_info).
    virtual void commit(abort_callback& abort) = 0;
};

class input_entry : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{C4A72E19-86F3-4B0D-9E65-31D8A7C2F0B4}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = input_entry;

    virtual bool is_our_content_type(const char* content_type) = 0;
    // Whether the input handles `path` with extension `extension` (no dot).
    virtual bool is_our_path(const char* path, const char* extension) = 0;
    // Each open sets `out` to a new object bound to `path`, or throws (and
    // leaves `out` untouched). `filehint` may be empty.
    virtual void open_for_decoding(service_ptr_t<input_decoder>& out, const file_ptr& filehint,
                                   const char* path, abort_callback& abort) = 0;
    virtual void open_for_info_read(service_ptr_t<input_info_reader>& out, const file_ptr& filehint,
                                    const char* path, abort_callback& abort) = 0;
    virtual void open_for_info_write(service_ptr_t<input_info_writer>& out, const file_ptr& filehint,
                                     const char* path, abort_callback& abort) = 0;
    // Extra data of kind `what` about the file; `out` stays empty when none.
    virtual void get_extended_data(const file_ptr& filehint, const char* path, const GUID& what,
                                   std::vector<uint8_t>& out, abort_callback& abort) = 0;
    virtual unsigned get_flags() = 0;

    // The extension of a path: the text after the last dot of its file name
    // (empty when none).
    static std::string g_extension(const char* path);
};

// The file types an input offers the user (names and masks for dialogs and
// associations).
class input_file_type : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{71B3F0A8-D529-4E6C-8B02-E45A9C1D76F3}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = input_file_type;

    virtual unsigned get_count() = 0;
    // Name and mask ("*.A;*.B") of type `index`; false for an index out of range.
    virtual bool get_name(unsigned index, std::string& out) = 0;
    virtual bool get_mask(unsigned index, std::string& out) = 0;
    virtual bool is_associatable(unsigned index) = 0;
};

// One file type with fixed name and mask.
class input_file_type_impl : public input_file_type {
  public:
    input_file_type_impl(const char* name, const char* mask, bool associatable)
        : m_name(name), m_mask(mask), m_associatable(associatable) {}
    unsigned get_count() override { return 1; }
    bool get_name(unsigned index, std::string& out) override {
        if (index != 0) return false;
        out = m_name;
        return true;
    }
    bool get_mask(unsigned index, std::string& out) override {
        if (index != 0) return false;
        out = m_mask;
        return true;
    }
    bool is_associatable(unsigned index) override { return index == 0 && m_associatable; }

  private:
    std::string m_name;
    std::string m_mask;
    bool m_associatable;
};

// Registers: `static input_file_type_factory g_type("Name", "*.A;*.B", true);`
class input_file_type_factory {
  public:
    input_file_type_factory(const char* name, const char* mask, bool associatable)
        : m_factory(name, mask, associatable) {}

  private:
    service_factory_single_t<input_file_type_impl> m_factory;
};
