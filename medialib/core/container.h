// How the engine opens a file: content detection, then one container handler.
//
// A handler reads a file into an AttributeSet (tags and technical values
// computed from the real stream), tells which attribute ids its format can
// store, and writes a changed set back. Detection is by content only: every
// handler has a cheap static check on the first bytes of the file and the
// dispatcher picks the first handler whose check passes, then lets that
// handler confirm by parsing. The file name's extension plays no part in the
// choice (it is only reported as the Extension attribute and used to tell
// .oma/.omg/.kdr apart where the content is the same).
//
// Writes are atomic: a handler writes the whole new file beside the original
// and renames it over the original only when everything was written; a
// failure leaves the original byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <span>
#include <string>

#include "medialib/core/attributes.h"

namespace medialib {

// Bytes of a file, read at any offset. All parsers read through this, so the
// engine, the plug-in side and the fuzzers share one input path.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to n bytes at offset; returns the number read (short at end).
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) const = 0;
};

std::unique_ptr<ByteSource> OpenFileSource(const std::filesystem::path& path);  // null on failure
std::unique_ptr<ByteSource> MemorySource(std::span<const uint8_t> bytes);       // borrows the bytes

// What tells one state of a file from another without reading it: which file
// it is (device and inode) and its size and times in nanoseconds. Any write
// moves the change time, which nobody can set back, so equal stamps taken far
// enough apart (see ParseCache) mean equal content.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modified_ns = 0;
    int64_t changed_ns = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// OpenFileSource that also gives the stamp of the file it opened (taken from
// the open descriptor, before anything is read).
std::unique_ptr<ByteSource> OpenFileSource(const std::filesystem::path& path, FileStamp* stamp);
// The stamp of the regular file at `path` now; false when there is none.
bool StampOf(const std::filesystem::path& path, FileStamp* stamp);

// What the dispatcher learnt about a file when it opened it.
struct OpenedFile {
    virtual ~OpenedFile() = default;

    // Container number (Format attribute) and codec number (Codec attribute).
    virtual int32_t Container() const = 0;
    virtual int32_t Codec() const = 0;

    // All attributes, tags and technical values together.
    virtual const AttributeSet& Attributes() const = 0;

    // Whether the format can store the attribute. Technical ids are never writable.
    virtual bool CanStore(uint32_t id) const = 0;

    // Whether the audio can be decoded (false for protected content).
    virtual bool Decodable() const = 0;

    // Stores the given complete set of tag attributes (technical ids are
    // ignored) into the file at `path`, atomically. Returns false, with the
    // file untouched, when anything fails.
    virtual bool Save(const std::filesystem::path& path, const AttributeSet& tags) = 0;
};

}  // namespace medialib
