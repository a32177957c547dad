#include "host/sdk/file_info.h"

#include "host/sdk/text.h"

namespace {
bool ValidName(const char* name) { return name != nullptr && *name != '\0'; }
}  // namespace

const char* file_info::meta_get(const char* name, size_t value_index) const {
    const size_t index = meta_find(name);
    if (index == npos || value_index >= meta_enum_value_count(index)) return nullptr;
    return meta_enum_value(index, value_index);
}

size_t file_info::meta_get_count_by_name(const char* name) const {
    const size_t index = meta_find(name);
    return index == npos ? 0 : meta_enum_value_count(index);
}

const char* file_info::info_get(const char* name) const {
    const size_t index = info_find(name);
    return index == npos ? nullptr : info_enum_value(index);
}

size_t file_info::info_set_int(const char* name, int64_t value) {
    return info_set(name, std::to_string(value).c_str());
}

void file_info::reset() {
    meta_remove_all();
    info_remove_all();
    set_replaygain(replaygain_info{});
    set_length(0.0);
}

void file_info::copy(const file_info& source) {
    if (&source == this) return;
    reset();
    for (size_t i = 0; i < source.meta_get_count(); ++i) {
        for (size_t v = 0; v < source.meta_enum_value_count(i); ++v) {
            meta_add(source.meta_enum_name(i), source.meta_enum_value(i, v));
        }
    }
    for (size_t i = 0; i < source.info_get_count(); ++i) {
        info_set(source.info_enum_name(i), source.info_enum_value(i));
    }
    set_replaygain(source.get_replaygain());
    set_length(source.get_length());
}

size_t file_info_impl::meta_find(const char* name) const {
    if (!name) return npos;
    for (size_t i = 0; i < m_meta.size(); ++i) {
        if (stricmp_utf8(m_meta[i].name, name) == 0) return i;
    }
    return npos;
}

size_t file_info_impl::meta_set(const char* name, const char* value) {
    if (!ValidName(name) || !value) return npos;
    const size_t index = meta_find(name);
    if (index == npos) {
        m_meta.push_back({name, {value}});
        return m_meta.size() - 1;
    }
    m_meta[index].name = name;
    m_meta[index].values.assign(1, value);
    return index;
}

size_t file_info_impl::meta_add(const char* name, const char* value) {
    if (!ValidName(name) || !value) return npos;
    const size_t index = meta_find(name);
    if (index == npos) {
        m_meta.push_back({name, {value}});
        return m_meta.size() - 1;
    }
    m_meta[index].values.emplace_back(value);
    return index;
}

void file_info_impl::meta_remove_field(const char* name) {
    const size_t index = meta_find(name);
    if (index != npos) meta_remove_index(index);
}

void file_info_impl::meta_remove_index(size_t index) {
    if (index < m_meta.size()) m_meta.erase(m_meta.begin() + static_cast<std::ptrdiff_t>(index));
}

size_t file_info_impl::info_find(const char* name) const {
    if (!name) return npos;
    for (size_t i = 0; i < m_info.size(); ++i) {
        if (stricmp_utf8(m_info[i].name, name) == 0) return i;
    }
    return npos;
}

size_t file_info_impl::info_set(const char* name, const char* value) {
    if (!ValidName(name) || !value) return npos;
    const size_t index = info_find(name);
    if (index == npos) {
        m_info.push_back({name, value});
        return m_info.size() - 1;
    }
    m_info[index].value = value;
    return index;
}

void file_info_impl::info_remove(const char* name) {
    const size_t index = info_find(name);
    if (index != npos) m_info.erase(m_info.begin() + static_cast<std::ptrdiff_t>(index));
}
