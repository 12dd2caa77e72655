// The pack command: the host's selection is cut into groups at its directory entries, each
// group is verified against its SFV file and unpacked into the destination directory.
#pragma once

// Result of a whole pack command: 0 when the selection was walked to its end, 21 when the
// host asked to stop. Null arguments do nothing and give 0. Calls are serialised: a second
// call waits until the first has finished.
int RunPackFiles(const char* packedFile, const char* srcPath, const char* addList);
