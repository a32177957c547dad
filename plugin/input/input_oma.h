// The plug-in's per-file state: one input_oma per object the host asks for.
//
// The host's input entry (input_entry_impl_t<input_oma>) makes a new
// input_oma for every decoder, info reader or info writer it hands out,
// runs open() with the host's path and destroys the object at once when open
// throws. open() binds the object to one file through the media library: the
// library opens the file as a content object, and the file's attribute
// interface (MediaItem) is taken from it. The object then serves exactly one
// role; the decoder and the tag code work on the fields set here.
//
// Three forms of the path are kept: the host path exactly as the host gave it
// (UTF-8, may begin with "file://"), the library path (the host path without
// "file://", UTF-16, what the library is given) and the key path (the library
// path in upper case, which the side-tag store uses as its key).
//
// COM is initialised on the constructing thread for the object's whole life
// and uninitialised by the destructor after every library object has been
// released. The object takes no lock: the host never calls one object from
// two threads at once.
#pragma once

#include <string>
#include <thread>

#include "host/sdk/file_info.h"
#include "host/sdk/input.h"
#include "library/media_library.h"
#include "platform/com/memory.h"
#include "platform/graph/dshow.h"
#include "plugin/decoder/sample_grabber_cb.h"

class input_oma {
  public:
    // Initialises COM on the calling thread (remembered for the destructor).
    // Nothing of the library is touched yet.
    input_oma();
    // Releases every library object in a fixed order (player stopped and
    // closed first, then item, then content) and then balances the
    // constructor's CoInitialize, if the destructor runs on the same thread.
    ~input_oma();
    input_oma(const input_oma&) = delete;
    input_oma& operator=(const input_oma&) = delete;

    // Binds the object to the file at `path` (UTF-8; may begin with "file://"
    // in any case). Creates the process-wide library root first when it is
    // missing. `filehint`, `reason` and `abort` are not used. Throws:
    //   exception_io "I/O error"                        no COM on this thread,
    //                                                   library unavailable, or no MediaItem;
    //   exception_io_data "Unsupported format or corrupted file"
    //                                                   path null, empty or not valid UTF-8;
    //   exception_io_unsupported_format "Unsupported file format"
    //                                                   the library does not open the file.
    // Call once per object.
    void open(file_ptr filehint, const char* path, t_input_open_reason reason, abort_callback& abort);

    // Size and last-write time (100 ns units since 1601) of the file, read
    // from the file itself; zeros when it cannot be opened (no exception).
    // The answer is also kept in m_stats.
    t_filestats get_file_stats(abort_callback& abort);

    // Info reader: fills `info` from the side tags and the library (read_info).
    void get_info(file_info& info, abort_callback& abort);
    // Info writer: stores `info` in the side tags and the library (write_info).
    void retag(const file_info& info, abort_callback& abort);

    // Decoder (input_oma_decode.cpp): the library's player plays the file
    // through its filter graph; the player's output filter is replaced by a
    // Sample Grabber and a Null Renderer and the graph runs without a clock.
    // decode_initialize throws exception_io_unsupported_format "Unsupported
    // file format" when the pipeline cannot be built and exception_io "I/O
    // error" when the player refuses the file; a second call seeks to 0.
    // decode_run delivers one block (true) or reports the end (false);
    // decode_seek repositions (nothing without a player). All on the host's
    // decoding thread; the graph's streaming thread calls the callback.
    void decode_initialize(unsigned flags, abort_callback& abort);
    bool decode_run(audio_chunk& chunk, abort_callback& abort);
    void decode_seek(double seconds, abort_callback& abort);
    bool decode_can_seek();
    bool decode_get_dynamic_info(file_info& out, double& timestamp_delta);
    bool decode_get_dynamic_info_track(file_info& out, double& timestamp_delta);
    void decode_on_idle(abort_callback& abort);

    // Never claims by content type.
    static bool g_is_our_content_type(const char* content_type);
    // Claims the extensions oma, omg and kdr (any case), and 3gp while the
    // switch cfg_support_3gp is on. The path itself is not looked at.
    static bool g_is_our_path(const char* path, const char* extension);

    // Read-only views for the roles and for tests.
    bool com_initialized() const { return m_com_initialized; }
    const std::string& host_path() const { return m_host_path; }
    BSTR library_path() const { return m_library_path.Get(); }
    BSTR key_path() const { return m_key_path.Get(); }
    MediaContent* content() const { return m_content.Get(); }
    MediaItem* item() const { return m_item.Get(); }
    const WAVEFORMATEX& wave_format() const { return m_wave_format; }
    const CSampleGrabberCB& grabber_callback() const { return m_grabber_cb; }

  private:
    // The tag layer's work for get_info and retag (input_oma_info.cpp).
    // read_info: loads the item for reading and fills `info`; throws
    // exception_io when the library path or item is missing or the load fails.
    void read_info(file_info& info, abort_callback& abort);
    // write_info: saves side tags, then writes changed attributes through the
    // item; throws exception_io on the failures of a read_info.
    void write_info(const file_info& info, abort_callback& abort);

    t_filestats m_stats{};
    bool m_com_initialized = false;
    std::thread::id m_com_thread;  // the thread whose COM count the constructor raised
    std::string m_host_path;
    platform::Bstr m_library_path;
    platform::Bstr m_key_path;
    WAVEFORMATEX m_wave_format{};
    ComPtr<MediaContent> m_content;
    ComPtr<MediaItem> m_item;
    // Playback state of the decoder (input_oma_decode.cpp); empty until
    // decode_initialize.
    ComPtr<MediaPlayer> m_player;
    ComPtr<ISampleGrabber> m_grabber;
    ComPtr<IMediaEvent> m_media_events;
    CSampleGrabberCB m_grabber_cb;

    void drain_events();
    void deliver(audio_chunk& chunk) const;
    bool run_unbuffered(audio_chunk& chunk);
    bool run_buffered(audio_chunk& chunk);
    bool buffered() const { return m_grabber_cb.m_buffering && m_grabber_cb.m_heap && m_grabber_cb.m_mutex; }
};
