#include "host/core/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace playhost {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]);
        const int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

// The values a settings file holds; a missing file holds none. Throws when
// the file exists but cannot be read.
std::map<GUID, std::vector<uint8_t>> ReadSettingsFile(const std::filesystem::path& file) {
    std::map<GUID, std::vector<uint8_t>> values;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return values;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read settings file " + file.string());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const auto guid = platform::ParseGuid(line.substr(0, eq));
        std::vector<uint8_t> bytes;
        if (!guid || !ParseHex(line.substr(eq + 1), bytes)) continue;
        values[*guid] = std::move(bytes);
    }
    return values;
}

// Writes `text` to `file` through "<file>.new", flushed before the rename.
// The caller holds the folder's lock, so the pending name is its own.
void ReplaceSettingsFile(const std::filesystem::path& file, const std::string& text) {
    const std::string temp = file.string() + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write settings file " + temp);
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot write settings file " + temp);
    }
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot replace settings file " + file.string());
    }
}

// An exclusive flock on a folder, held while the object lives.
class FolderLock {
  public:
    explicit FolderLock(const std::filesystem::path& folder)
        : m_fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd < 0) throw std::runtime_error("cannot lock settings folder " + folder.string());
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            ::close(m_fd);
            throw std::runtime_error("cannot lock settings folder " + folder.string());
        }
    }
    ~FolderLock() { ::close(m_fd); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int m_fd;
};

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : m_file(std::move(file)) {}

void SettingsStore::Load() {
    m_values.clear();
    m_stored.clear();
    m_values = ReadSettingsFile(m_file);
    m_stored = m_values;
}

void SettingsStore::Save() {
    std::map<GUID, std::vector<uint8_t>> changed;
    for (const auto& [guid, bytes] : m_values) {
        const auto stored = m_stored.find(guid);
        if (stored == m_stored.end() || stored->second != bytes) changed[guid] = bytes;
    }
    if (changed.empty()) return;

    const FolderLock lock(m_file.parent_path());
    // Other processes may have saved their changes since this one loaded.
    std::map<GUID, std::vector<uint8_t>> merged = ReadSettingsFile(m_file);
    for (const auto& [guid, bytes] : changed) merged[guid] = bytes;

    std::ostringstream text;
    text << "# playhost settings: one saved component setting per line, {GUID}=value bytes in hex\n";
    static const char kHex[] = "0123456789ABCDEF";
    for (const auto& [guid, bytes] : merged) {
        text << platform::FormatGuid(guid) << '=';
        for (uint8_t b : bytes) text << kHex[b >> 4] << kHex[b & 15];
        text << '\n';
    }
    ReplaceSettingsFile(m_file, text.str());
    m_values = merged;  // what the file now holds: this store's changes and the others'
    m_stored = std::move(merged);
}

std::vector<uint8_t> SettingsStore::ToConfigStream() const {
    std::vector<uint8_t> out;
    for (const auto& [guid, bytes] : m_values) {
        const auto* g = reinterpret_cast<const uint8_t*>(&guid);
        out.insert(out.end(), g, g + sizeof(GUID));
        const auto size = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

bool SettingsStore::MergeConfigStream(const std::vector<uint8_t>& stream) {
    std::map<GUID, std::vector<uint8_t>> taken;
    size_t pos = 0;
    while (pos < stream.size()) {
        if (stream.size() - pos < 20) return false;
        GUID guid;
        std::memcpy(&guid, stream.data() + pos, sizeof(GUID));
        uint32_t size = 0;
        for (int i = 0; i < 4; ++i) size |= static_cast<uint32_t>(stream[pos + 16 + i]) << (8 * i);
        pos += 20;
        if (stream.size() - pos < size) return false;
        taken[guid].assign(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                           stream.begin() + static_cast<std::ptrdiff_t>(pos + size));
        pos += size;
    }
    for (auto& [guid, bytes] : taken) m_values[guid] = std::move(bytes);
    return true;
}

}  // namespace playhost
