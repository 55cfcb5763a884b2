#include "archive_history.h"

#include "tescore.h"

#include <windows.h>

#include <cstdio>

namespace tessera {

bool SamePath(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

void ArchiveHistory::Add(const std::string& path) {
    if (current_ != nodes_.end() && SamePath(current_->path, path)) {
        current_->closed = false;
        return;
    }
    Position after = current_ == nodes_.end() ? nodes_.end() : std::next(current_);
    nodes_.erase(after, nodes_.end());
    current_ = nodes_.insert(nodes_.end(), Node{path, false});
}

void ArchiveHistory::MarkClosed() {
    if (current_ != nodes_.end()) current_->closed = true;
}

void ArchiveHistory::Remove(const std::string& path) {
    for (Position node = nodes_.begin(); node != nodes_.end();) {
        if (!SamePath(node->path, path)) {
            ++node;
            continue;
        }
        Position next = std::next(node);
        if (node == current_) {
            if (next != nodes_.end()) current_ = next;
            else if (node != nodes_.begin()) current_ = std::prev(node);
            else current_ = nodes_.end();
        }
        nodes_.erase(node);
        node = next;
    }
}

void ArchiveHistory::Clear() {
    nodes_.clear();
    current_ = nodes_.end();
}

bool ArchiveHistory::CanGoBack() const {
    return current_ != nodes_.end() && (current_->closed || current_ != nodes_.begin());
}

bool ArchiveHistory::CanGoForward() const {
    return current_ != nodes_.end() && std::next(current_) != nodes_.end();
}

std::string ArchiveHistory::GoBack() {
    if (!CanGoBack()) return std::string();
    if (current_->closed) current_->closed = false;
    else --current_;
    return current_->path;
}

std::string ArchiveHistory::GoForward() {
    if (!CanGoForward()) return std::string();
    current_->closed = false;
    ++current_;
    return current_->path;
}

std::vector<ArchiveHistory::Position> ArchiveHistory::BackList(size_t max) const {
    std::vector<Position> list;
    if (current_ == nodes_.end()) return list;
    Position node = current_;
    if (!node->closed) {
        if (node == nodes_.begin()) return list;
        --node;
    }
    for (;;) {
        if (list.size() >= max) break;
        list.push_back(node);
        if (node == nodes_.begin()) break;
        --node;
    }
    return list;
}

std::vector<ArchiveHistory::Position> ArchiveHistory::ForwardList(size_t max) const {
    std::vector<Position> list;
    if (current_ == nodes_.end()) return list;
    for (Position node = std::next(current_); node != nodes_.end() && list.size() < max; ++node) {
        list.push_back(node);
    }
    return list;
}

std::string ArchiveHistory::Select(Position node) {
    current_ = node;
    current_->closed = false;
    return current_->path;
}

std::vector<std::string> ArchiveHistory::Paths() const {
    std::vector<std::string> paths;
    for (const Node& node : nodes_) paths.push_back(node.path);
    return paths;
}

void RecentArchives::Add(const std::string& path) {
    int found = kSlots - 1;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!slots_[slot].empty() && SamePath(slots_[slot], path)) {
            found = slot;
            break;
        }
    }
    for (int slot = found; slot > 0; --slot) slots_[slot] = slots_[slot - 1];
    slots_[0] = path;
}

void RecentArchives::Remove(const std::string& path) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (slots_[slot].empty() || !SamePath(slots_[slot], path)) continue;
        for (int later = slot; later + 1 < kSlots; ++later) slots_[later] = slots_[later + 1];
        slots_[kSlots - 1].clear();
        --slot;
    }
}

void RecentArchives::Replace(const std::string& oldPath, const std::string& newPath) {
    for (std::string& slot : slots_) {
        if (!slot.empty() && SamePath(slot, oldPath)) slot = newPath;
    }
}

void ArchiveHistory::Replace(const std::string& oldPath, const std::string& newPath) {
    for (Node& node : nodes_) {
        if (SamePath(node.path, oldPath)) node.path = newPath;
    }
}

void RecentArchives::Load() {
    int filled = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
        char name[16];
        snprintf(name, sizeof name, "File%d", slot + 1);
        char path[MAX_PATH] = "";
        if (GetProfileString("Settings", name, path) && path[0]) slots_[filled++] = path;
    }
}

void RecentArchives::Save() const {
    for (int slot = 0; slot < kSlots; ++slot) {
        char name[16];
        snprintf(name, sizeof name, "File%d", slot + 1);
        PutProfileString("Settings", name, slots_[slot].empty() ? nullptr : slots_[slot].c_str());
    }
}

}  // namespace tessera
