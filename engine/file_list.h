// An ordered list of full paths: the selected sources of a group and the files each pass
// produced. Duplicates are kept in the order they were appended.
#pragma once

#include <string>
#include <vector>

class FileList {
public:
    typedef std::vector<std::string>::const_iterator const_iterator;

    void Append(const std::string& path) { paths_.push_back(path); }
    size_t Size() const { return paths_.size(); }
    bool Empty() const { return paths_.empty(); }
    void Clear() { paths_.clear(); }
    const std::string& operator[](size_t index) const { return paths_[index]; }
    const_iterator begin() const { return paths_.begin(); }
    const_iterator end() const { return paths_.end(); }

    // Removes every entry for which `matches` is true, keeping the order of the rest.
    template <typename Predicate> void RemoveIf(Predicate matches)
    {
        std::vector<std::string> kept;
        kept.reserve(paths_.size());
        for (std::string& path : paths_)
            if (!matches(path))
                kept.push_back(std::move(path));
        paths_.swap(kept);
    }

private:
    std::vector<std::string> paths_;
};
