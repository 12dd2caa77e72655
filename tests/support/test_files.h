// Fixtures for the Windows tests: a fresh temporary directory per test, small file helpers,
// and running a program with its output captured. Paths and command lines are UTF-8, as the
// engine's are, and may be longer than the plain form allows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under the temporary directory, removed with everything in it when the
// object goes. path() ends with a backslash.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + relative; }

private:
    std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& content);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
void MakeDirectories(const std::string& path);
void RemoveTree(const std::string& path);

// Every file and directory below `root`, relative, directories with a trailing backslash,
// sorted.
std::vector<std::string> ListTree(const std::string& root);

// `size` bytes of a repeatable pseudo-random pattern.
std::string PatternBytes(size_t size, uint32_t seed);

// An SFV file body listing (name, checksum text) pairs with CR LF line ends.
std::string SfvBody(const std::vector<std::pair<std::string, std::string>>& lines);
std::string CrcHex(const std::string& content);

// The directory that holds the test programs and the built binaries (ends with a backslash).
std::string BinaryDirectory();

// The folder NAME beside that directory when a ctest fixture script has mounted it (it holds
// the file "mounted"), ending with a backslash; empty otherwise.
std::string MountedFolder(const std::string& name);

struct ProcessResult {
    int exitCode = -1;
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs a command line and waits for it, capturing both output streams, or standard output
// only when standard error goes to the file (or device) `errorsTo`.
ProcessResult RunProcess(const std::string& commandLine, const std::string& errorsTo = "");

// Runs wcxhost's pack command with these options on the plugin, the packed file (whose folder
// is the destination), the source folder and the names (as they stand on a command line).
ProcessResult RunWcxhostPack(const std::string& options, const std::string& plugin, const std::string& packedFile,
                             const std::string& srcPath, const std::string& names, const std::string& errorsTo = "");

// Quotes a command-line argument; a trailing backslash is doubled so that it does not escape
// the closing quote.
std::string Quote(const std::string& text);

// A settings file whose General element holds these value elements.
std::string SettingsFileText(const std::string& elements);

// Copies the built module into `directory` with a settings file holding these value elements;
// returns the copy's path.
std::string InstallModuleCopy(const std::string& directory, const std::string& elements);

// Splits text into lines, dropping CR characters.
std::vector<std::string> Lines(const std::string& text);
// The last line of an output, empty when there is none.
std::string LastLine(const std::string& output);
