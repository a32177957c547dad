#include "tool/common/name_value_list.h"

#include "platform/text/text.h"

namespace quillet {
namespace {

std::u16string_view ViewOf(LPCWSTR text) { return text ? std::u16string_view(text) : std::u16string_view(); }

}  // namespace

void NameValueList::Append(LPCWSTR name, LPCWSTR value) { Append(ViewOf(name), ViewOf(value)); }

void NameValueList::Append(std::u16string_view name, std::u16string_view value) {
    if (name.empty() && value.empty()) return;
    entries_.push_back(Entry{std::u16string(name), std::u16string(value)});
}

bool NameValueList::Find(std::u16string_view name) {
    if (name.empty()) return false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].HasName() && platform::EqualsNoCase(entries_[i].name, name)) {
            cursor_ = i;
            return true;
        }
    }
    return false;
}

void NameValueList::Set(LPCWSTR name, LPCWSTR value) { Set(ViewOf(name), ViewOf(value)); }

void NameValueList::Set(std::u16string_view name, std::u16string_view value) {
    if (name.empty()) return;
    if (Find(name)) {
        entries_[cursor_].value.assign(value);
        return;
    }
    Append(name, value);
}

const NameValueList::Entry* NameValueList::Current() const {
    return cursor_ != kNoEntry && cursor_ < entries_.size() ? &entries_[cursor_] : nullptr;
}

void NameValueList::RemoveCurrent() {
    if (cursor_ == kNoEntry || cursor_ >= entries_.size()) return;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(cursor_));
    if (cursor_ >= entries_.size()) cursor_ = kNoEntry;
}

void NameValueList::Clear() {
    entries_.clear();
    cursor_ = kNoEntry;
}

}  // namespace quillet
