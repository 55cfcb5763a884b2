// ArchiveHistory: the back/forward list of archive paths of one explorer
// window. RecentArchives: the four most recently opened archives, stored
// under "Settings" as "File1".."File4".
#pragma once

#include <list>
#include <string>
#include <vector>

namespace tessera {

class ArchiveHistory {
public:
    struct Node {
        std::string path;
        bool closed = false;
    };
    using Position = std::list<Node>::iterator;

    // Same path as the current node (ignoring case): clears its closed flag;
    // otherwise drops the nodes after the current one and appends the path.
    void Add(const std::string& path);
    void MarkClosed();
    // Removes every node with the path; the next (else previous) node
    // becomes current when the current one goes.
    void Remove(const std::string& path);
    // The archive file was renamed or moved: every node of oldPath gets newPath.
    void Replace(const std::string& oldPath, const std::string& newPath);
    void Clear();

    bool CanGoBack() const;
    bool CanGoForward() const;
    // Moves for Back/Forward and returns the path to open (empty when there
    // is nowhere to go).
    std::string GoBack();
    std::string GoForward();

    // Drop-down lists: up to max nodes backwards (from the current node when
    // it is closed, else the previous one) or forwards from the next one.
    std::vector<Position> BackList(size_t max) const;
    std::vector<Position> ForwardList(size_t max) const;
    std::string Select(Position node);

    bool Empty() const { return nodes_.empty(); }
    size_t Size() const { return nodes_.size(); }
    const Node* Current() const { return nodes_.empty() ? nullptr : &*current_; }
    std::vector<std::string> Paths() const;

private:
    mutable std::list<Node> nodes_;
    Position current_ = nodes_.end();
};

class RecentArchives {
public:
    static constexpr int kSlots = 4;

    void Add(const std::string& path);
    void Remove(const std::string& path);
    void Replace(const std::string& oldPath, const std::string& newPath);
    const std::string& Slot(int index) const { return slots_[index]; }
    bool Empty() const { return slots_[0].empty(); }

    void Load();        // "File1".."File4" under "Settings"
    void Save() const;  // filled slots written, empty ones deleted

private:
    std::string slots_[kSlots];
};

bool SamePath(const std::string& a, const std::string& b);

}  // namespace tessera
