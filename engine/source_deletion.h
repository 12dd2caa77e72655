// Deleting the downloaded archives while they are unpacked: the rule that allows it, and the
// renamed volume files under which a RAR set is read so that each volume can go as soon as the
// library has finished it.
#pragma once

#include <windows.h>

#include <string>

#include "engine/unpack_context.h"

// Sources may be deleted when the user asked for it and either the group has an SFV file
// (checked or not) or sources without one need not be kept.
bool SourcesMayBeDeleted(const UnpackContext& context);

// The name that a volume carries on disk while the library reads it: the prefix "xxx" before
// its file name, in its own directory. The library derives each next volume's name from it,
// so the next volume is asked for under a prefixed name too, and RarCallback moves it there.
std::string PrefixedVolumeName(const std::string& path);

// One RAR set read under renamed volumes. At most the volume being read and the one about to
// replace it carry the prefix; a finished volume is deleted only once its successor is in
// place, so an incomplete download keeps every volume that it still has.
class VolumeRenaming {
public:
    // Moves the set's first volume (closed) to its prefixed name. False when nothing was moved:
    // a file with the prefix and a name of this set exists already (the library would read it
    // as a volume, and this set must never delete it), or the move failed.
    bool Begin(const std::string& firstVolume);

    // The library asks for the next volume under `prefixedName`: 0 when it is now there, -1
    // when it is missing. Once refused, every further request is refused too.
    int NextVolume(const std::string& prefixedName);

    // After the library has closed the set: the volume it was reading is deleted when the set
    // was extracted completely, otherwise it gets its own name back.
    void Finish(bool complete);

    // The volume that the library is reading, under its prefixed name.
    const std::string& previousVolume() const { return previousVolume_; }
    // True once a next volume could not be put in place.
    bool stopped() const { return stopped_; }

private:
    std::string previousVolume_;
    bool stopped_ = false;
};

// The library's callback for a set read under renamed volumes; the user data is the set's
// VolumeRenaming. Password requests are refused: the engine has no password to give.
int CALLBACK RarCallback(UINT message, LPARAM userData, LPARAM p1, LPARAM p2);
