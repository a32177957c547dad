#include "host/core/settings_store.h"

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

}  // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : m_file(std::move(file)) {}

void SettingsStore::Load() {
    m_values.clear();
    std::error_code ec;
    if (!std::filesystem::exists(m_file, ec)) return;
    std::ifstream in(m_file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read settings file " + m_file.string());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const auto guid = platform::ParseGuid(line.substr(0, eq));
        std::vector<uint8_t> bytes;
        if (!guid || !ParseHex(line.substr(eq + 1), bytes)) continue;
        m_values[*guid] = std::move(bytes);
    }
}

void SettingsStore::Save() const {
    std::ostringstream text;
    text << "# playhost settings: one saved component setting per line, {GUID}=value bytes in hex\n";
    static const char kHex[] = "0123456789ABCDEF";
    for (const auto& [guid, bytes] : m_values) {
        text << platform::FormatGuid(guid) << '=';
        for (uint8_t b : bytes) text << kHex[b >> 4] << kHex[b & 15];
        text << '\n';
    }
    const std::filesystem::path temp = m_file.string() + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write settings file " + temp.string());
        const std::string body = text.str();
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
        out.flush();
        if (!out) throw std::runtime_error("cannot write settings file " + temp.string());
    }
    std::error_code ec;
    std::filesystem::rename(temp, m_file, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        throw std::runtime_error("cannot replace settings file " + m_file.string());
    }
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
