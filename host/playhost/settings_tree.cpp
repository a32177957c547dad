#include "host/playhost/settings_tree.h"

#include <algorithm>
#include <map>

namespace playhost {

const char* SettingNode::kind() const {
    if (!checkbox) return "branch";
    return checkbox->is_radio() ? "radio" : "checkbox";
}

std::string SettingNode::address() const {
    return setting_name.empty() ? platform::FormatGuid(guid) : setting_name;
}

namespace {

void Visit(const std::vector<SettingNode>& all, const std::multimap<GUID, size_t>& children, size_t index,
           int depth, std::vector<bool>& placed, std::vector<SettingNode>& out) {
    if (placed[index]) return;
    placed[index] = true;
    out.push_back(all[index]);
    out.back().depth = depth;
    std::vector<size_t> kids;
    auto [first, last] = children.equal_range(all[index].guid);
    for (auto it = first; it != last; ++it) kids.push_back(it->second);
    std::stable_sort(kids.begin(), kids.end(),
                     [&](size_t a, size_t b) { return all[a].priority < all[b].priority; });
    for (size_t kid : kids) Visit(all, children, kid, depth + 1, placed, out);
}

}  // namespace

std::vector<SettingNode> CollectSettings(Host& host) {
    std::vector<SettingNode> all;
    for (const auto& module : host.components()) {
        for (service_factory_base* factory : module->Factories()) {
            if (factory->get_class_guid() != advconfig_entry::class_guid) continue;
            service_ptr raw;
            factory->instance_create(raw);
            SettingNode node;
            if (!raw.service_query_t(node.entry)) continue;
            node.module = module.get();
            node.entry->get_name(node.name);
            node.guid = node.entry->get_guid();
            node.parent = node.entry->get_parent();
            node.priority = node.entry->get_sort_priority();
            node.entry.service_query_t(node.checkbox);
            service_ptr_t<advconfig_entry_checkbox_v2> v2;
            if (node.entry.service_query_t(v2)) v2->get_setting_name(node.setting_name);
            all.push_back(std::move(node));
        }
    }

    std::map<GUID, size_t> by_guid;
    for (size_t i = 0; i < all.size(); ++i) by_guid.emplace(all[i].guid, i);
    std::multimap<GUID, size_t> children;
    std::vector<size_t> roots;
    for (size_t i = 0; i < all.size(); ++i) {
        if (by_guid.count(all[i].parent) && all[i].parent != all[i].guid)
            children.emplace(all[i].parent, i);
        else
            roots.push_back(i);
    }
    std::stable_sort(roots.begin(), roots.end(),
                     [&](size_t a, size_t b) { return all[a].priority < all[b].priority; });
    std::vector<bool> placed(all.size(), false);
    std::vector<SettingNode> out;
    for (size_t root : roots) Visit(all, children, root, 0, placed, out);
    for (size_t i = 0; i < all.size(); ++i) {
        if (!placed[i]) {
            out.push_back(all[i]);
            out.back().depth = 0;
        }
    }
    return out;
}

}  // namespace playhost
