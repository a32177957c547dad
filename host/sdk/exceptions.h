// The host's exception classes. Components report every failure to the host
// by throwing one of these; each class carries a fixed default text that the
// host shows as it is. The hierarchy lets a caller catch a whole family
// (every I/O failure is an `exception_io`).
#pragma once

#include <stdexcept>
#include <string>

// Base of all I/O failures: "I/O error".
class exception_io : public std::runtime_error {
  public:
    exception_io() : std::runtime_error("I/O error") {}
    explicit exception_io(const std::string& message) : std::runtime_error(message) {}
};

// The data of a file is not what the reader expects.
class exception_io_data : public exception_io {
  public:
    exception_io_data() : exception_io("Unsupported format or corrupted file") {}
    explicit exception_io_data(const std::string& message) : exception_io(message) {}
};

// No component handles the file's format.
class exception_io_unsupported_format : public exception_io_data {
  public:
    exception_io_unsupported_format() : exception_io_data("Unsupported file format") {}
    explicit exception_io_unsupported_format(const std::string& message) : exception_io_data(message) {}
};

// The file or folder does not exist.
class exception_io_not_found : public exception_io {
  public:
    exception_io_not_found() : exception_io("Object not found") {}
    explicit exception_io_not_found(const std::string& message) : exception_io(message) {}
};

// The operating system refused access.
class exception_io_denied : public exception_io {
  public:
    exception_io_denied() : exception_io("Access denied") {}
    explicit exception_io_denied(const std::string& message) : exception_io(message) {}
};

// A file or folder to be created exists already.
class exception_io_already_exists : public exception_io {
  public:
    exception_io_already_exists() : exception_io("Object already exists") {}
    explicit exception_io_already_exists(const std::string& message) : exception_io(message) {}
};

// The operation was cancelled through its abort_callback.
class exception_aborted : public std::runtime_error {
  public:
    exception_aborted() : std::runtime_error("User abort") {}
};

// No service of the requested class is registered.
class exception_service_not_found : public std::runtime_error {
  public:
    exception_service_not_found() : std::runtime_error("Service not found") {}
};

// The file holds no picture of the requested kind.
class exception_album_art_not_found : public exception_io_not_found {
  public:
    exception_album_art_not_found() : exception_io_not_found("Album Art Not Found") {}
};

// The picture cannot be stored in or read from this file.
class exception_album_art_unsupported_entry : public exception_io_data {
  public:
    exception_album_art_unsupported_entry() : exception_io_data("Unsupported Album Art Entry") {}
};
