// Ready-made input services built around a component's single-track input
// class.
//
// The component writes one class `I` with these members:
//   void open(file_ptr filehint, const char* path, t_input_open_reason reason, abort_callback& abort);
//   void get_info(file_info& info, abort_callback& abort);
//   t_filestats get_file_stats(abort_callback& abort);
//   void decode_initialize(unsigned flags, abort_callback& abort);
//   bool decode_run(audio_chunk& chunk, abort_callback& abort);
//   void decode_seek(double seconds, abort_callback& abort);
//   bool decode_can_seek();
//   bool decode_get_dynamic_info(file_info& out, double& timestamp_delta);
//   bool decode_get_dynamic_info_track(file_info& out, double& timestamp_delta);
//   void decode_on_idle(abort_callback& abort);
//   void retag(const file_info& info, abort_callback& abort);
//   static bool g_is_our_content_type(const char* content_type);
//   static bool g_is_our_path(const char* path, const char* extension);
// and registers it with `static input_singletrack_factory_t<I> g_factory;`.
//
// `input_wrapper_singletrack_t<I>` holds one `I` by value and turns the
// host's multi-track calls into these single-track ones: the file has exactly
// one track, number 0, and any other track number throws exception_io_data.
// `input_impl_interface_wrapper_t<I, Interface>` exposes the wrapper as one of
// `input_decoder`, `input_info_reader` or `input_info_writer`, with its own
// atomic reference count. `input_entry_impl_t<I>` creates these objects: it
// constructs the wrapper, runs `open` with the host's path, and hands the
// object over only when `open` succeeded; otherwise it destroys the object
// and lets the exception reach the host.
#pragma once

#include <type_traits>
#include <utility>

#include "host/sdk/input.h"

template <typename I>
class input_wrapper_singletrack_t {
  public:
    input_wrapper_singletrack_t() = default;

    void open(const file_ptr& filehint, const char* path, t_input_open_reason reason, abort_callback& abort) {
        m_instance.open(filehint, path, reason, abort);
    }
    uint32_t get_subsong_count() { return 1; }
    uint32_t get_subsong(uint32_t) { return 0; }
    void get_info(uint32_t subsong, file_info& info, abort_callback& abort) {
        check_subsong(subsong);
        m_instance.get_info(info, abort);
    }
    t_filestats get_file_stats(abort_callback& abort) { return m_instance.get_file_stats(abort); }
    void decode_initialize(uint32_t subsong, unsigned flags, abort_callback& abort) {
        check_subsong(subsong);
        m_instance.decode_initialize(flags, abort);
    }
    bool decode_run(audio_chunk& chunk, abort_callback& abort) { return m_instance.decode_run(chunk, abort); }
    void decode_seek(double seconds, abort_callback& abort) { m_instance.decode_seek(seconds, abort); }
    bool decode_can_seek() { return m_instance.decode_can_seek(); }
    bool decode_get_dynamic_info(file_info& out, double& delta) {
        return m_instance.decode_get_dynamic_info(out, delta);
    }
    bool decode_get_dynamic_info_track(file_info& out, double& delta) {
        return m_instance.decode_get_dynamic_info_track(out, delta);
    }
    void decode_on_idle(abort_callback& abort) { m_instance.decode_on_idle(abort); }
    void retag_set_info(uint32_t subsong, const file_info& info, abort_callback& abort) {
        check_subsong(subsong);
        m_instance.retag(info, abort);
    }
    void retag_commit(abort_callback&) {}

    static bool g_is_our_content_type(const char* content_type) {
        return I::g_is_our_content_type(content_type);
    }
    static bool g_is_our_path(const char* path, const char* extension) {
        return I::g_is_our_path(path, extension);
    }

    I& get_instance() { return m_instance; }

  private:
    static void check_subsong(uint32_t subsong) {
        if (subsong != 0) throw exception_io_data();
    }
    I m_instance;
};

namespace input_detail {

// The part common to the three kinds: the reader operations.
template <typename I, typename Interface>
class reader_base : public Interface {
  public:
    void open(const file_ptr& filehint, const char* path, t_input_open_reason reason, abort_callback& abort) {
        m_wrapper.open(filehint, path, reason, abort);
    }
    uint32_t get_subsong_count() override { return m_wrapper.get_subsong_count(); }
    uint32_t get_subsong(uint32_t index) override { return m_wrapper.get_subsong(index); }
    void get_info(uint32_t subsong, file_info& info, abort_callback& abort) override {
        m_wrapper.get_info(subsong, info, abort);
    }
    t_filestats get_file_stats(abort_callback& abort) override { return m_wrapper.get_file_stats(abort); }

  protected:
    input_wrapper_singletrack_t<I> m_wrapper;
};

}  // namespace input_detail

template <typename I, typename Interface>
class input_impl_interface_wrapper_t;

template <typename I>
class input_impl_interface_wrapper_t<I, input_info_reader>
    : public input_detail::reader_base<I, input_info_reader> {};

template <typename I>
class input_impl_interface_wrapper_t<I, input_decoder> : public input_detail::reader_base<I, input_decoder> {
    using base = input_detail::reader_base<I, input_decoder>;

  public:
    void initialize(uint32_t subsong, unsigned flags, abort_callback& abort) override {
        base::m_wrapper.decode_initialize(subsong, flags, abort);
    }
    bool run(audio_chunk& chunk, abort_callback& abort) override {
        return base::m_wrapper.decode_run(chunk, abort);
    }
    void seek(double seconds, abort_callback& abort) override { base::m_wrapper.decode_seek(seconds, abort); }
    bool can_seek() override { return base::m_wrapper.decode_can_seek(); }
    bool get_dynamic_info(file_info& out, double& delta) override {
        return base::m_wrapper.decode_get_dynamic_info(out, delta);
    }
    bool get_dynamic_info_track(file_info& out, double& delta) override {
        return base::m_wrapper.decode_get_dynamic_info_track(out, delta);
    }
    void on_idle(abort_callback& abort) override { base::m_wrapper.decode_on_idle(abort); }
};

template <typename I>
class input_impl_interface_wrapper_t<I, input_info_writer>
    : public input_detail::reader_base<I, input_info_writer> {
    using base = input_detail::reader_base<I, input_info_writer>;

  public:
    void set_info(uint32_t subsong, const file_info& info, abort_callback& abort) override {
        base::m_wrapper.retag_set_info(subsong, info, abort);
    }
    void commit(abort_callback& abort) override { base::m_wrapper.retag_commit(abort); }
};

template <typename I>
class input_entry_impl_t : public input_entry {
  public:
    bool is_our_content_type(const char* content_type) override {
        return input_wrapper_singletrack_t<I>::g_is_our_content_type(content_type);
    }
    bool is_our_path(const char* path, const char* extension) override {
        return input_wrapper_singletrack_t<I>::g_is_our_path(path, extension);
    }
    void open_for_decoding(service_ptr_t<input_decoder>& out, const file_ptr& filehint, const char* path,
                           abort_callback& abort) override {
        open_as<input_decoder>(out, filehint, path, input_open_decode, abort);
    }
    void open_for_info_read(service_ptr_t<input_info_reader>& out, const file_ptr& filehint, const char* path,
                            abort_callback& abort) override {
        open_as<input_info_reader>(out, filehint, path, input_open_info_read, abort);
    }
    void open_for_info_write(service_ptr_t<input_info_writer>& out, const file_ptr& filehint,
                             const char* path, abort_callback& abort) override {
        open_as<input_info_writer>(out, filehint, path, input_open_info_write, abort);
    }
    void get_extended_data(const file_ptr&, const char*, const GUID&, std::vector<uint8_t>& out,
                           abort_callback&) override {
        out.clear();
    }
    unsigned get_flags() override { return 0; }

  private:
    template <typename Interface>
    static void open_as(service_ptr_t<Interface>& out, const file_ptr& filehint, const char* path,
                        t_input_open_reason reason, abort_callback& abort) {
        // The first reference is taken before open, so an exception releases
        // (and so destroys) the half-made object on the way out.
        auto object = fb2k::service_new<input_impl_interface_wrapper_t<I, Interface>>();
        object->open(filehint, path, reason, abort);
        out = object.get_ptr();
    }
};

// Registers the input entry of `I`.
template <typename I>
class input_singletrack_factory_t {
  public:
    input_singletrack_factory_t() = default;

  private:
    service_factory_single_t<input_entry_impl_t<I>> m_factory;
};
