// An ordered list of name/value pairs with a cursor.
//
// Entries keep the order in which they were added; names compare without
// regard to case (lstrcmpiW). An empty string is never stored as such: it
// stands for "absent", so an entry's name or value is either a non-empty
// string or absent. The cursor is an index into the list; Find moves it to a
// hit and leaves it alone on a miss. The list owns its strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

namespace quillet {

class NameValueList {
  public:
    struct Entry {
        std::u16string name;   // empty: absent
        std::u16string value;  // empty: absent

        bool HasName() const { return !name.empty(); }
        bool HasValue() const { return !value.empty(); }
        // Null when absent, else a NUL-terminated string owned by the list.
        LPCWSTR Name() const { return name.empty() ? nullptr : name.c_str(); }
        LPCWSTR Value() const { return value.empty() ? nullptr : value.c_str(); }
    };

    // Adds an entry at the end unless both name and value are absent or empty.
    // A null pointer counts as absent.
    void Append(LPCWSTR name, LPCWSTR value);
    void Append(std::u16string_view name, std::u16string_view value);

    // Walks from the first entry and stops at the first whose name equals
    // `name` without regard to case; on a hit the cursor rests there and the
    // result is true; on a miss the cursor stays where it was. A null or empty
    // name never matches.
    bool Find(std::u16string_view name);

    // Replaces the value of the entry that Find hits (keeping its place; an
    // empty value becomes absent) or appends a new entry. An absent name does
    // nothing.
    void Set(std::u16string_view name, std::u16string_view value);
    void Set(LPCWSTR name, LPCWSTR value);

    // The entry under the cursor; null when the cursor rests on no entry.
    const Entry* Current() const;
    // Removes the entry under the cursor; the cursor then rests on the entry
    // that followed it (or on none). Does nothing without a current entry.
    void RemoveCurrent();
    void Clear();

    bool Empty() const { return entries_.empty(); }
    size_t Size() const { return entries_.size(); }
    const Entry& operator[](size_t index) const { return entries_[index]; }

    // Iteration from first to last; use rbegin()/rend() for last to first.
    std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<Entry>::const_iterator end() const { return entries_.end(); }
    std::vector<Entry>::const_reverse_iterator rbegin() const { return entries_.rbegin(); }
    std::vector<Entry>::const_reverse_iterator rend() const { return entries_.rend(); }

  private:
    std::vector<Entry> entries_;
    static constexpr size_t kNoEntry = static_cast<size_t>(-1);
    size_t cursor_ = kNoEntry;
};

}  // namespace quillet
