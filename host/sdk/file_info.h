// The record of one track that components fill and read: metadata, technical
// information, ReplayGain values and the length.
//
// Metadata is an ordered list of fields; each field has a name and one or more
// UTF-8 values. Field names are compared without regard to case
// (`stricmp_utf8`), so "Title" and "TITLE" name the same field, and a field's
// position in the list stays fixed while its values change. Technical
// information is an ordered list of single name/value pairs with the same name
// rule. `file_info` is the interface a component sees (the host owns the
// object); `file_info_impl` is the host's ready-made implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ReplayGain values of a track; a value equal to its "invalid" marker is unset.
struct replaygain_info {
    static constexpr float gain_invalid = -1000.0f;
    static constexpr float peak_invalid = -1.0f;

    float m_album_gain = gain_invalid;
    float m_track_gain = gain_invalid;
    float m_album_peak = peak_invalid;
    float m_track_peak = peak_invalid;

    bool is_album_gain_present() const { return m_album_gain != gain_invalid; }
    bool is_track_gain_present() const { return m_track_gain != gain_invalid; }
    bool is_album_peak_present() const { return m_album_peak != peak_invalid; }
    bool is_track_peak_present() const { return m_track_peak != peak_invalid; }
    // True when none of the four values is set.
    bool is_empty() const {
        return !is_album_gain_present() && !is_track_gain_present() && !is_album_peak_present() &&
               !is_track_peak_present();
    }
    void reset() { *this = replaygain_info{}; }
    friend bool operator==(const replaygain_info&, const replaygain_info&) = default;
};

class file_info {
  public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // --- metadata -------------------------------------------------------------
    virtual size_t meta_get_count() const = 0;
    // Name of field `index` (< meta_get_count()); valid until the field changes.
    virtual const char* meta_enum_name(size_t index) const = 0;
    virtual size_t meta_enum_value_count(size_t index) const = 0;
    // Value `value_index` of field `index`; both indexes must be in range.
    virtual const char* meta_enum_value(size_t index, size_t value_index) const = 0;
    // Index of the field called `name` (any case), or npos.
    virtual size_t meta_find(const char* name) const = 0;
    // Makes `value` the only value of field `name`: an existing field keeps
    // its position, otherwise the field is appended. Returns the field's index,
    // or npos (nothing changed) when name or value is null or the name is empty.
    virtual size_t meta_set(const char* name, const char* value) = 0;
    // Adds `value` as a further value of field `name` (creating the field at
    // the end when absent). Same result and null rules as meta_set.
    virtual size_t meta_add(const char* name, const char* value) = 0;
    // Removes field `name` with all its values; nothing happens when absent.
    virtual void meta_remove_field(const char* name) = 0;
    virtual void meta_remove_index(size_t index) = 0;
    virtual void meta_remove_all() = 0;

    // --- technical information -------------------------------------------------
    virtual size_t info_get_count() const = 0;
    virtual const char* info_enum_name(size_t index) const = 0;
    virtual const char* info_enum_value(size_t index) const = 0;
    virtual size_t info_find(const char* name) const = 0;
    // Sets entry `name` to `value` (replacing, position kept); npos on null.
    virtual size_t info_set(const char* name, const char* value) = 0;
    virtual void info_remove(const char* name) = 0;
    virtual void info_remove_all() = 0;

    // --- ReplayGain and length ------------------------------------------------
    virtual replaygain_info get_replaygain() const = 0;
    virtual void set_replaygain(const replaygain_info& info) = 0;
    // Length in seconds; 0 when unknown.
    virtual double get_length() const = 0;
    virtual void set_length(double seconds) = 0;

    // --- helpers built on the operations above -------------------------------
    // Value `value_index` of field `name`, or null when either is absent.
    const char* meta_get(const char* name, size_t value_index) const;
    size_t meta_get_count_by_name(const char* name) const;
    bool meta_exists(const char* name) const { return meta_find(name) != npos; }
    // Value of entry `name`, or null.
    const char* info_get(const char* name) const;
    // Stores `value` as decimal text.
    size_t info_set_int(const char* name, int64_t value);
    // Stores the bit rate in kbit/s as "bitrate".
    size_t info_set_bitrate(int64_t kbps) { return info_set_int("bitrate", kbps); }
    // Empties everything: metadata, technical information, ReplayGain, length.
    void reset();
    // Replaces the whole content with a copy of `source`.
    void copy(const file_info& source);

  protected:
    file_info() = default;
    ~file_info() = default;
    file_info(const file_info&) = default;
    file_info& operator=(const file_info&) = default;
};

// The host's implementation, a plain value type.
class file_info_impl final : public file_info {
  public:
    file_info_impl() = default;
    file_info_impl(const file_info_impl& other) = default;
    file_info_impl& operator=(const file_info_impl& other) = default;
    explicit file_info_impl(const file_info& source) { copy(source); }

    size_t meta_get_count() const override { return m_meta.size(); }
    const char* meta_enum_name(size_t index) const override { return m_meta.at(index).name.c_str(); }
    size_t meta_enum_value_count(size_t index) const override { return m_meta.at(index).values.size(); }
    const char* meta_enum_value(size_t index, size_t value_index) const override {
        return m_meta.at(index).values.at(value_index).c_str();
    }
    size_t meta_find(const char* name) const override;
    size_t meta_set(const char* name, const char* value) override;
    size_t meta_add(const char* name, const char* value) override;
    void meta_remove_field(const char* name) override;
    void meta_remove_index(size_t index) override;
    void meta_remove_all() override { m_meta.clear(); }

    size_t info_get_count() const override { return m_info.size(); }
    const char* info_enum_name(size_t index) const override { return m_info.at(index).name.c_str(); }
    const char* info_enum_value(size_t index) const override { return m_info.at(index).value.c_str(); }
    size_t info_find(const char* name) const override;
    size_t info_set(const char* name, const char* value) override;
    void info_remove(const char* name) override;
    void info_remove_all() override { m_info.clear(); }

    replaygain_info get_replaygain() const override { return m_replaygain; }
    void set_replaygain(const replaygain_info& info) override { m_replaygain = info; }
    double get_length() const override { return m_length; }
    void set_length(double seconds) override { m_length = seconds; }

  private:
    struct MetaField {
        std::string name;
        std::vector<std::string> values;
    };
    struct InfoField {
        std::string name;
        std::string value;
    };
    std::vector<MetaField> m_meta;
    std::vector<InfoField> m_info;
    replaygain_info m_replaygain;
    double m_length = 0.0;
};
