// What a file of a release is, read from its own name (never from its folders': a folder
// "Movie.2019.1080p.RARBG\" says nothing about the files in it): a ZIP archive, the group's SFV
// file, the first or a later volume of a RAR set, or anything else. Every part of the engine that
// tells files apart by name asks here, so that the passes, the RAR stage and the clean-up agree
// on which files belong together. Paths are UTF-8; entries of ZIP archives keep their stored
// separators, so "/" separates folders as "\" does.
#pragma once

#include <cstdint>
#include <string>

#include "base/paths.h"

enum class NameKind {
    None,         // a film, an NFO file, a folder: a result, not something to unpack
    Zip,          // name.zip
    Sfv,          // name.sfv
    FirstVolume,  // the volume a set is read from: name.part1.rar, name.rar, name.001
    LaterVolume,  // a volume after it: name.part2.rar, name.r00, name.s00, name.002
};

// How a set names its volumes. Letter case is free and kept in derived names.
enum class VolumeScheme {
    None,
    // name.part1.rar, name.part2.rar, ...: the number keeps its width (part01, part02) and
    // grows past it (part999, part1000).
    Parts,
    // name.rar, name.r00 ... name.r99, name.s00 ... name.z99. A name.rar may as well be an
    // archive of its own: only the archive's flags tell, so it counts as a first volume here.
    OldStyle,
    // name.001, name.002, ... name.999, name.1000.
    Numbered,
};

struct ReleaseName {
    NameKind kind = NameKind::None;
    VolumeScheme scheme = VolumeScheme::None;
    // The volume's place in its set, 1 for the first; 0 for a file that is no volume.
    uint64_t number = 0;
    // Equal for the volumes of one set and for no other file: the folder, the name without its
    // volume suffix and the scheme, compared as FileIdentity compares paths. Empty for a file
    // that is no volume.
    std::wstring setKey;

    bool IsVolume() const { return kind == NameKind::FirstVolume || kind == NameKind::LaterVolume; }
};

ReleaseName ClassifyName(const std::string& path);

// The name of the volume after `volume`, in the same folder and scheme; empty for a file that is
// no volume or the last name the scheme has (name.z99).
std::string NextVolumeName(const std::string& volume);

// The name of the first volume of the set that `volume` belongs to, in the same folder; empty
// for a file that is no volume. A .partN.rar keeps the width of its number (part07: part01),
// which is how RAR numbers every volume of one set.
std::string FirstVolumeOf(const std::string& volume);

// The text after the last dot of the file's own name; empty when it has none.
std::string ExtensionOf(const std::string& path);

// The name that a first volume carries on disk while the library reads a set whose names it
// would derive wrongly: the prefix "xxx" before its file name, in its own folder.
std::string PrefixedVolumeName(const std::string& path);

// The volume names of one RAR set, as the RAR stage walks them from its first volume.
class VolumeNames {
public:
    explicit VolumeNames(const std::string& firstVolume) : first_(ClassifyName(firstVolume)) {}
    // The volume after `volume`; empty when `volume` is not of this set or has no next name.
    std::string Next(const std::string& volume) const;
    // True for old-style names (name.rar, name.r00), which the library does not derive
    // correctly for a set made with the new numbering.
    bool oldStyle() const { return first_.scheme == VolumeScheme::OldStyle; }

private:
    ReleaseName first_;
};
