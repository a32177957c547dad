#include "platform/registry/registry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "platform/text/text.h"

struct RegistryKey {
    std::string path;  // upper case, "HKEY_LOCAL_MACHINE\SOFTWARE\..."
};

namespace {

namespace fs = std::filesystem;

struct Value {
    DWORD type = REG_NONE;
    std::u16string text;
    DWORD number = 0;
};

struct Hive {
    std::set<std::string> keys;                                  // every key, parents included
    std::map<std::string, std::map<std::string, Value>> values;  // key → upper value name → value
    fs::path file;
    struct timespec mtime {};
    struct timespec ctime {};
    off_t size = -1;
    ino_t inode = 0;
    bool loaded = false;
};

std::mutex g_mutex;
Hive g_hive;
// Every key that RegOpenKeyExW handed out and RegCloseKey has not ended; a key
// that is not here is a bad handle, never memory to read or free. Guarded by g_mutex.
std::set<const RegistryKey*> g_open_keys;

std::string Upper(const std::string& utf8) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(utf8);
    u.toUpper(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

std::string CanonicalRoot(const std::string& upper_root) {
    if (upper_root == "HKLM") return "HKEY_LOCAL_MACHINE";
    if (upper_root == "HKCR") return "HKEY_CLASSES_ROOT";
    if (upper_root == "HKCU") return "HKEY_CURRENT_USER";
    return upper_root;
}

// Normalises "Root\a\\b\" to "ROOT\A\B" (upper case, single separators).
std::string NormalisePath(const std::string& path) {
    std::string upper = Upper(path);
    std::string out;
    std::stringstream ss(upper);
    std::string part;
    bool first = true;
    while (std::getline(ss, part, '\\')) {
        if (part.empty()) continue;
        if (first) {
            part = CanonicalRoot(part);
            first = false;
        } else {
            out.push_back('\\');
        }
        out += part;
    }
    return out;
}

std::string DecodeFile(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::u16string units;
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                  (static_cast<unsigned char>(raw[i + 1]) << 8)));
        return Utf16ToUtf8(units);
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
    return raw;
}

// Reads a quoted string starting at s[pos] == '"'; handles \\ and \" escapes.
bool ReadQuoted(const std::string& s, size_t& pos, std::string* out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out->clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '\\' && pos < s.size()) {
            out->push_back(s[pos++]);
        } else if (c == '"') {
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

void AddKeyWithParents(Hive& hive, const std::string& key) {
    std::string prefix;
    size_t start = 0;
    while (true) {
        size_t sep = key.find('\\', start);
        prefix = key.substr(0, sep);
        hive.keys.insert(prefix);
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
}

void Parse(Hive& hive, const std::string& text) {
    std::stringstream in(text);
    std::string line;
    std::string current;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos) continue;
        line = line.substr(b);
        if (line[0] == ';') continue;
        if (line[0] == '[') {
            size_t end = line.rfind(']');
            if (end == std::string::npos) {
                current.clear();
                continue;
            }
            std::string name = line.substr(1, end - 1);
            if (!name.empty() && name[0] == '-') {  // a deletion entry: the key is absent
                current.clear();
                continue;
            }
            current = NormalisePath(name);
            if (!current.empty()) AddKeyWithParents(hive, current);
            continue;
        }
        if (current.empty()) continue;
        size_t pos = 0;
        std::string name;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, &name)) {
            continue;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        Value value;
        if (pos < line.size() && line[pos] == '"') {
            std::string data;
            if (!ReadQuoted(line, pos, &data)) continue;
            value.type = REG_SZ;
            value.text = Utf8ToUtf16(data);
        } else if (line.compare(pos, 6, "dword:") == 0) {
            // One to eight hex digits and nothing after them: a sign, a ninth digit or other text
            // makes the line no value at all rather than a truncated or wrapped number.
            const size_t start = pos + 6;
            size_t end = start;
            while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
            if (end == start || end - start > 8 || line.find_first_not_of(" \t", end) != std::string::npos)
                continue;
            value.type = REG_DWORD;
            std::from_chars(line.data() + start, line.data() + end, value.number, 16);
        } else {
            continue;  // other value kinds are not used by this system
        }
        hive.values[current][Upper(name)] = value;
    }
}

fs::path ModuleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ModuleFolder), &info) && info.dli_fname) {
        std::error_code ec;
        fs::path p = fs::canonical(fs::path(info.dli_fname), ec);
        if (!ec) return p.parent_path();
        return fs::path(info.dli_fname).parent_path();
    }
    return {};
}

// The registry file as one open descriptor: what is checked for change is the
// file that is read, even while another process renames a new one into place.
struct OpenedFile {
    int fd = -1;
    struct stat st {};
    explicit OpenedFile(const fs::path& file) {
        if (file.empty()) return;
        // Non-blocking, so that a FIFO in its place cannot hold every lookup; only a
        // regular file is read (a device might never end).
        fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
    }
    ~OpenedFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    std::string ReadAll() const {
        std::string raw;
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            raw.append(buffer, static_cast<size_t>(n));
        }
        return raw;
    }
};

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Re-reads the file when it changed; call with g_mutex held.
void Refresh() {
    fs::path file = platform::RegistryFilePath();
    OpenedFile opened(file);
    const bool exists = opened.fd >= 0;
    const struct stat& st = opened.st;
    if (g_hive.loaded && g_hive.file == file) {
        if (!exists && g_hive.size == -1) return;
        // A file renamed into place may reuse a freed inode within the same clock tick;
        // the change time is set by the rename as well, which narrows that further.
        if (exists && g_hive.size == st.st_size && g_hive.inode == st.st_ino &&
            SameTime(g_hive.mtime, st.st_mtim) && SameTime(g_hive.ctime, st.st_ctim))
            return;
    }
    Hive fresh;
    fresh.file = file;
    fresh.loaded = true;
    if (exists) {
        fresh.size = st.st_size;
        fresh.inode = st.st_ino;
        fresh.mtime = st.st_mtim;
        fresh.ctime = st.st_ctim;
        Parse(fresh, DecodeFile(opened.ReadAll()));
    }
    g_hive = std::move(fresh);
}

const char* RootName(HKEY key) {
    const auto v = reinterpret_cast<uintptr_t>(key);
    if (v == 0x80000000u) return "HKEY_CLASSES_ROOT";
    if (v == 0x80000001u) return "HKEY_CURRENT_USER";
    if (v == 0x80000002u) return "HKEY_LOCAL_MACHINE";
    return nullptr;
}

bool IsPredefined(HKEY key) {
    const auto v = reinterpret_cast<uintptr_t>(key);
    return v >= 0x80000000u && v <= 0x8000000Fu;
}

// The full upper-case path of an open or predefined key; empty for a bad
// handle. Call with g_mutex held.
std::string PathOf(HKEY key) {
    if (IsPredefined(key)) {
        const char* root = RootName(key);
        return root ? root : "";
    }
    if (!g_open_keys.count(key)) return {};
    return key->path;
}

}  // namespace

LONG RegOpenKeyExW(HKEY parent, LPCWSTR sub_key, DWORD /*options*/, REGSAM access, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string sub = sub_key ? Utf16ToUtf8(std::u16string_view(sub_key)) : std::string();
    std::lock_guard lock(g_mutex);
    std::string base = PathOf(parent);
    if (base.empty()) return ERROR_INVALID_HANDLE;
    // Only read access exists here.
    const REGSAM write_bits = 0x0002 | 0x0004 | 0x0020 | 0x00010000 | 0x00040000 | 0x00080000;
    if (access & write_bits) return ERROR_ACCESS_DENIED;
    std::string full = sub.empty() ? base : NormalisePath(base + "\\" + sub);
    Refresh();
    if (!IsPredefined(parent) || !sub.empty()) {
        if (!g_hive.keys.count(full)) return ERROR_FILE_NOT_FOUND;
    }
    auto key = std::make_unique<RegistryKey>(RegistryKey{full});
    g_open_keys.insert(key.get());
    *result = key.release();
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    {
        std::lock_guard lock(g_mutex);
        if (!g_open_keys.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR value_name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    std::string name = value_name ? Upper(Utf16ToUtf8(std::u16string_view(value_name))) : std::string();
    Value value;
    {
        std::lock_guard lock(g_mutex);
        std::string path = PathOf(key);
        if (path.empty()) return ERROR_INVALID_HANDLE;
        Refresh();
        auto k = g_hive.values.find(path);
        if (k == g_hive.values.end()) return ERROR_FILE_NOT_FOUND;
        auto v = k->second.find(name);
        if (v == k->second.end()) return ERROR_FILE_NOT_FOUND;
        value = v->second;
    }
    if (type) *type = value.type;
    std::vector<BYTE> bytes;
    if (value.type == REG_SZ) {
        bytes.resize((value.text.size() + 1) * sizeof(char16_t));
        std::memcpy(bytes.data(), value.text.c_str(), bytes.size());
    } else {
        bytes.resize(sizeof(DWORD));
        std::memcpy(bytes.data(), &value.number, sizeof(DWORD));
    }
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (!data) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

namespace platform {

std::filesystem::path RegistryFilePath() {
    const char* env = std::getenv("CQ_REGISTRY_FILE");
    if (env && *env) return fs::path(env);
    // Asked on every lookup; the module's folder stays what it was when the module was loaded,
    // so the dladdr and the path resolution are done once.
    static const fs::path folder = ModuleFolder();
    if (folder.empty()) return {};
    return folder / "registry.reg";
}

RegistryFileCounts ParseRegistryFile(std::string_view raw) {
    Hive hive;
    Parse(hive, DecodeFile(std::string(raw)));
    RegistryFileCounts counts;
    counts.keys = hive.keys.size();
    for (const auto& [key, values] : hive.values) counts.values += values.size();
    return counts;
}

long OpenRegistryKeyCount() {
    std::lock_guard lock(g_mutex);
    return static_cast<long>(g_open_keys.size());
}

bool FindInprocServer(std::string_view class_id, std::string* module_path) {
    const std::string guid(class_id);
    const std::string candidates[] = {
        NormalisePath("HKEY_CLASSES_ROOT\\CLSID\\" + guid + "\\InprocServer32"),
        NormalisePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\" + guid + "\\InprocServer32"),
    };
    std::lock_guard lock(g_mutex);
    Refresh();
    for (const auto& key : candidates) {
        auto k = g_hive.values.find(key);
        if (k == g_hive.values.end()) continue;
        auto v = k->second.find("");
        if (v == k->second.end() || v->second.type != REG_SZ || v->second.text.empty()) continue;
        fs::path module(Utf16ToUtf8(v->second.text));
        if (module.is_relative()) module = g_hive.file.parent_path() / module;
        *module_path = module.string();
        return true;
    }
    return false;
}

}  // namespace platform
