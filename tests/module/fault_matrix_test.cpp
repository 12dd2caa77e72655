// Nothing of a download is ever lost. Each row of the fault matrix lays out a release in a
// download folder, breaks something (the data, a source, the destination, the disk), unpacks
// it through wcxhost and a copy of the module, and checks the result code and the rule: each
// film came out complete, or every volume of its set is still there byte for byte (as a file
// under its own name in the download folder or the destination, or inside a ZIP archive that
// is still there), or every byte of the film is covered by its beginning kept as
// FILM.incomplete and the ranges of the film that the volumes still there hold (read from their
// own headers); no "xxx" link stands without its volume; a film never lies under its real name
// incomplete; an SFV file goes only with a group that was delivered completely; the intact
// group Zed after it is unpacked whatever happened before. The fault sweep strikes at every
// progress call of a run in turn (a stop, or a disk that another program fills) and checks the
// same; the kill sweep ends the process there and runs the job again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "base/text.h"
#include "engine/rar5_files.h"
#include "tests/portable/rar4_bytes.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;
typedef std::map<std::string, std::string> Files;  // name in the group's directory: content

const char kSfv[] = "rel.sfv";
const char kNfo[] = "rel.nfo";
const char kNext[] = "the group after the broken one\r\n";

// A film and the volumes of the RAR set that holds it.
struct FilmSet {
    std::string film;
    std::string content;
    Names volumes;
};

// A download as it lies in the group's directory (without its SFV and NFO files), with every
// volume's content, zipped or not, and the volumes that each ZIP archive holds.
struct Release {
    std::vector<FilmSet> sets;
    Files volumes;
    Files files;
    std::map<std::string, Names> zips;
    bool sfv = true;  // an SFV file lists the files as they lie in the folder
};

// A release of sets that the fixture script built: each film with its volumes.
Release Built(const std::vector<std::pair<std::string, Names>>& sets)
{
    Release release;
    for (const auto& set : sets) {
        release.sets.push_back({set.first, FixtureSource(set.first), set.second});
        for (const std::string& volume : set.second)
            release.volumes[volume] = release.files[volume] = ReadFileBytes(FixturePath(volume));
    }
    return release;
}

// The release with these volumes moved into a ZIP archive of stored entries, after `entries`.
Release Zipped(Release release, const std::string& zip, const Names& volumes, std::vector<ZipEntry> entries = {})
{
    for (const std::string& volume : volumes) {
        entries.push_back(FileEntry(volume, release.volumes[volume], 0));
        release.files.erase(volume);
    }
    release.files[zip] = BuildZip(entries);
    release.zips[zip] = volumes;
    return release;
}

Names Parts(const std::string& stem, int count)
{
    Names names;
    for (int part = 1; part <= count; ++part)
        names.push_back(stem + ".part" + std::to_string(part) + ".rar");
    return names;
}

// A data byte in the middle of a stored volume, far from its headers.
void Damage(std::string& volume)
{
    volume[volume.size() / 2] ^= 0x55;
}

const std::pair<std::string, Names> kEpisode1 = {"Show.S01E01.mkv",
                                                 {"Show.S01E01.rar", "Show.S01E01.r00", "Show.S01E01.r01"}};
const std::pair<std::string, Names> kEpisode2 = {"Show.S02E01.mkv",
                                                 {"Show.S02E01.rar", "Show.S02E01.r00", "Show.S02E01.r01"}};

Release Six()
{
    return Built({{"six.mkv", Parts("six", 6)}});
}

// The fourth volume damaged before the set was zipped: the ZIP archive's CRCs match.
Release SixDamagedInZip()
{
    Release release = Six();
    Damage(release.volumes["six.part4.rar"]);
    return Zipped(release, "rel.zip", Parts("six", 6));
}

// The four old-style volume names of a set that the fixture script made.
Names OldNames(const std::string& stem)
{
    return {stem + ".rar", stem + ".r00", stem + ".r01", stem + ".r02"};
}

// 4 MiB in four volumes of 1.1 MB: more than the small disk holds.
Release Big()
{
    return Built({{"big.mkv", OldNames("big")}});
}

Release BigInTwoZips()
{
    return Zipped(Zipped(Big(), "big1.zip", {"big.rar", "big.r00"}), "big2.zip", {"big.r01", "big.r02"});
}

// A film in five volumes in two ZIP files, the first with `beside` its volumes.
Release FiveInZips(std::vector<ZipEntry> beside)
{
    const Release five = Built({{"five.mkv", Parts("five", 5)}});
    return Zipped(Zipped(five, "rel1.zip", {"five.part1.rar", "five.part2.rar", "five.part3.rar"}, beside), "rel2.zip",
                  {"five.part4.rar", "five.part5.rar"});
}

Release FiveInTwoZips()
{
    return FiveInZips({});
}

// The two ZIP files of the set, the first with notes beside its volumes, and after them a ZIP
// file of extras.
Release FiveInTwoZipsWithExtras()
{
    return Zipped(FiveInZips({FileEntry("notes.txt", "notes\r\n")}), "xtra.zip", {},
                  {FileEntry("extra.txt", "extra\r\n")});
}

// A scene release in a folder whose name has dots and an archive-like word: a ZIP of the set and
// a folder of subtitles.
Release SixWithSubs()
{
    return Zipped(Six(), "movie.zip", Parts("six", 6), {DirectoryEntry("Subs/"), FileEntry("Subs/eng.srt", "1\r\n")});
}

const Names kSixPar2 = {"six.par2", "six.vol00+1.par2", "six.vol01+2.par2", "six.vol03+4.par2", "six.vol07+3.par2"};

// Six with the PAR2 files of its recovery set: the first `files` of them (ten recovery slices
// in all, the first three in the first three files).
Release SixWithPar2(size_t files = kSixPar2.size())
{
    Release release = Six();
    for (size_t i = 0; i < files; ++i)
        release.files[kSixPar2[i]] = ReadFileBytes(FixturePath(kSixPar2[i]));
    return release;
}

// Six's fourth volume damaged, with the PAR2 files that repair it and no SFV file: the set
// vouches for the volumes.
Release SixDamagedWithPar2()
{
    Release release = SixWithPar2();
    Damage(release.files["six.part4.rar"]);
    release.sfv = false;
    return release;
}

enum class Fault {
    None,
    DamagedVolume,     // a data byte of six.part4.rar changed after the SFV file was made
    BesidePartial,     // the same, and beside it six.part4.rar.incomplete, the unselected
                       // beginning of a download of it that did not finish
    MissingVolume,     // six.part5.rar never arrived (the SFV file lists the others)
    LockedVolume,      // another program holds six.part3.rar open without sharing
    PlayerHoldsFilm,   // a player holds the film in the destination open, sharing reads only
    FileForDirectory,  // a file stands where the group's destination directory goes
    ReadOnlyFilm,      // a read-only file of the film's name is in the destination
    ExtrasSfvZip,      // extras.sfv.zip, a ZIP archive of extras.txt, lies beside the SFV file
    SecondSfv,         // a second SFV file, named by the row's text, lists a wrong CRC-32
    SfvName,           // the SFV file is named by the row's text
    NoSfv,             // the group has no SFV file (sources without one are kept)
    NoFirstVolume,     // six.part1.rar never arrived (the SFV file lists the others)
    RenamedVolume,     // six.part3.rar arrived under the row's text as its name
    GoneFile,          // the selection also names gone.zip, which is not there
    FolderName,        // the group's folder is named by the row's text
    ZipChanged,        // a byte of the group's ZIP files outside their entries' data (the time in
                       // the first local header) changed after the SFV file was made: of rel2.zip
                       // alone where there is one
    MissingZip,        // rel2.zip never arrived (the SFV file lists it)
    FilmNameTaken,     // a file of other content stands under the first film's name in the destination
};

struct Row {
    const char* name;
    Release (*release)();
    Fault fault;
    const char* text;
    bool checkCrc;
    bool deleteDuring;
    int result;      // 0: every film complete, the sources (under deletion) and the SFV file gone
    bool untouched;  // the download folder stays as it was
};

const char kHeld[] = "the copy that was there first";
const char kExtras[] = "behind the scenes\r\n";

bool Holds(const std::string& path, const std::string& content)
{
    return FileExists(path) && ReadFileBytes(path) == content;
}

// What a journal records of a file with `content` at `path`: as an output, and as a consumed file.
JournalFile Recorded(const std::string& path, const std::string& content)
{
    return {path, content.size(), static_cast<uint32_t>(std::stoul(CrcHex(content), nullptr, 16))};
}
FileProof ProofOf(const std::string& content)
{
    FileProof proof;
    proof.size = content.size();
    proof.hasCrc = true;
    proof.crc = Recorded("", content).crc;
    return proof;
}

// Where an output lands when a file of other content stands under its name: beside it.
std::string Beside(const std::string& name)
{
    const size_t dot = name.rfind('.');
    return name.substr(0, dot) + " (2)" + name.substr(dot);
}

// The files that check a download, which go with a delivered group: SFV and PAR2 files.
bool IsSfvName(const std::string& name)
{
    return (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".sfv") == 0) ||
           (name.size() > 5 && _stricmp(name.c_str() + name.size() - 5, ".par2") == 0);
}

// A download folder src\ with the groups Rel\ and Zed\, a destination out\ and a module copy in
// a fresh directory.
class DownloadRun : public ::testing::Test {
protected:
    void TearDown() override
    {
        LetGo();
        if (outRoot_ != dir_ / "out\\")
            RemoveTree(outRoot_);
        if (srcRoot_ != dir_ / "src\\")
            RemoveTree(srcRoot_);
    }

    // Puts the destination, and the download folder too when `sourcesToo`, on the 3 MiB tmpfs
    // that tests/small_disk.sh mounts around the full-disk cases; false when it is not mounted.
    bool OnSmallDisk(bool sourcesToo = false)
    {
        smallDisk_ = MountedFolder("small-disk");
        if (smallDisk_.empty())
            return false;
        outRoot_ = smallDisk_ + "out\\";
        RemoveTree(outRoot_);
        if (sourcesToo) {
            srcRoot_ = smallDisk_ + "src\\";
            RemoveTree(srcRoot_);
        }
        return true;
    }

    std::string src() const { return srcRoot_; }
    std::string out() const { return outRoot_; }
    std::string group() const { return src() + group_ + "\\"; }
    std::string destination() const { return out() + group_ + "\\"; }

    // Lays the release out, breaks it, and returns the download folder as the run finds it.
    Files Prepare(const Release& release, Fault fault = Fault::None, const std::string& text = "")
    {
        if (fault == Fault::FolderName)
            group_ = text;
        if (fault == Fault::GoneFile)
            selection_ = group_ + " " + group_ + "\\gone.zip Zed";
        MakeDirectories(src() + "Zed");
        const std::string next = BuildZip({FileEntry("zed.txt", kNext)});
        WriteFileBytes(src() + "Zed\\zed.zip", next);
        WriteFileBytes(src() + "Zed\\zed.sfv", SfvBody({{"zed.zip", CrcHex(next)}}));
        MakeDirectories(group());
        for (const auto& file : release.files)
            WriteFileBytes(group() + file.first, file.second);
        if (fault == Fault::MissingVolume || fault == Fault::NoFirstVolume)
            DeleteFileA((group() + (fault == Fault::MissingVolume ? "six.part5.rar" : "six.part1.rar")).c_str());
        if (fault == Fault::ExtrasSfvZip)
            WriteFileBytes(group() + "extras.sfv.zip", BuildZip({FileEntry("extras.txt", kExtras)}));
        std::vector<std::pair<std::string, std::string>> listed;
        for (const std::string& name : ListTree(group()))
            listed.emplace_back(name, CrcHex(ReadFileBytes(group() + name)));
        if (fault != Fault::NoSfv && release.sfv)
            WriteFileBytes(group() + (fault == Fault::SfvName ? text : kSfv), SfvBody(listed));
        if (withNfo_)
            WriteFileBytes(group() + kNfo, "release notes\r\n");
        const std::string film = destination() + "six.mkv";
        switch (fault) {
        case Fault::DamagedVolume:
        case Fault::BesidePartial: {
            std::string volume = ReadFileBytes(group() + "six.part4.rar");
            if (fault == Fault::BesidePartial)
                WriteFileBytes(group() + "six.part4.rar.incomplete", volume.substr(0, volume.size() / 3));
            Damage(volume);
            WriteFileBytes(group() + "six.part4.rar", volume);
            break;
        }
        case Fault::FileForDirectory:
            MakeDirectories(out());
            WriteFileBytes(out() + "Rel", kHeld);
            break;
        case Fault::FilmNameTaken:
            MakeDirectories(destination());
            WriteFileBytes(destination() + release.sets[0].film, kHeld);
            break;
        case Fault::PlayerHoldsFilm:
        case Fault::ReadOnlyFilm:
            MakeDirectories(destination());
            WriteFileBytes(film, kHeld);
            if (fault == Fault::ReadOnlyFilm)
                SetFileAttributesA(film.c_str(), FILE_ATTRIBUTE_READONLY);
            break;
        case Fault::SecondSfv:
            WriteFileBytes(group() + text, SfvBody({{"six.part1.rar", "DEADBEEF"}}));
            break;
        case Fault::RenamedVolume:
            MoveFileA((group() + "six.part3.rar").c_str(), (group() + text).c_str());
            break;
        case Fault::ZipChanged:
            for (const auto& file : release.files)
                if (file.first.size() > 4 && file.first.compare(file.first.size() - 4, 4, ".zip") == 0 &&
                    (!release.files.count("rel2.zip") || file.first == "rel2.zip")) {
                    std::string zip = file.second;
                    zip[10] ^= 1;
                    WriteFileBytes(group() + file.first, zip);
                }
            break;
        case Fault::MissingZip:
            DeleteFileA((group() + "rel2.zip").c_str());
            break;
        default:
            break;
        }
        Files before;
        for (const std::string& name : ListTree(group()))
            before[name] = ReadFileBytes(group() + name);
        // Another program holds a file open until the run is over.
        if (fault == Fault::LockedVolume || fault == Fault::PlayerHoldsFilm) {
            const bool player = fault == Fault::PlayerHoldsFilm;
            held_ = CreateFileA((player ? film : group() + "six.part3.rar").c_str(), GENERIC_READ,
                                player ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_NE(held_, INVALID_HANDLE_VALUE);
        }
        return before;
    }

    void LetGo()
    {
        if (held_ != INVALID_HANDLE_VALUE)
            CloseHandle(held_);
        held_ = INVALID_HANDLE_VALUE;
    }

    // Runs the pack command on the group; returns the result code, -1 without one.
    int Pack(const std::string& options, std::string* output = nullptr)
    {
        // The group's files selected in its own folder pack into the folder of the packed file;
        // a download that did not finish is not selected.
        std::string files;
        for (const std::string& name : ListTree(group()))
            if (name.find(".incomplete") == std::string::npos)
                files += " " + Quote(name);
        const ProcessResult run =
            selectFiles_ ? RunWcxhostPack(options, dir_ / "plugin\\ravelpak.wcx64", destination() + "new.zip", group(),
                                          files)
                         : RunWcxhostPack(options, dir_ / "plugin\\ravelpak.wcx64", out() + "new.zip", src(),
                                          selection_.empty() ? group_ + " Zed" : selection_);
        LetGo();
        if (output)
            *output = run.output;
        const Names lines = Lines(run.output);
        if (lines.empty() || lines.back().compare(0, 7, "result ") != 0) {
            ADD_FAILURE() << "wcxhost ended without a result, exit code " << run.exitCode << "\n"
                          << run.output << run.errors;
            return -1;
        }
        return std::atoi(lines.back().c_str() + 7);
    }

    // What the rule finds lost after a run; `held` is the content that a film of the
    // destination may keep because it was there before.
    Names Losses(const Release& release, const Files& before, const std::string& held = "") const
    {
        Names losses;
        // A volume is read through a link "xxx" + its name; one left without its own name beside
        // it would be a volume that the next run cannot find.
        for (const std::string& root : {src(), out()})
            for (const std::string& entry : ListTree(root)) {
                const size_t name = entry.rfind('\\') + 1;
                if (entry.compare(name, 3, "xxx") == 0 && !FileExists(root + entry.substr(0, name) + entry.substr(name + 3)))
                    losses.push_back("left under a temporary name: " + root + entry);
            }
        bool delivered = true;
        for (const FilmSet& set : release.sets) {
            const std::string film = destination() + set.film;
            if (Holds(film, set.content) || (!held.empty() && Holds(destination() + Beside(set.film), set.content)))
                continue;
            delivered = false;
            if (FileExists(film) && (held.empty() || !Holds(film, held)))
                losses.push_back(set.film + " is incomplete");
            // Once volumes were deleted, what came out of them is kept in a temporary file of
            // the film (FILM.TAG.incomplete): the film's beginning, which with the volumes still
            // there covers the whole film.
            size_t covered = 0;
            const std::string kIncomplete = ".incomplete";
            for (const std::string& name : ListTree(destination())) {
                if (name.compare(0, set.film.size() + 1, set.film + ".") != 0 || name.size() < kIncomplete.size() ||
                    name.compare(name.size() - kIncomplete.size(), kIncomplete.size(), kIncomplete) != 0)
                    continue;
                const std::string part = ReadFileBytes(destination() + name);
                if (set.content.compare(0, part.size(), part) == 0)
                    covered = std::max(covered, part.size());
                else if (!part.empty())
                    losses.push_back(name + " is not the film's beginning");
            }
            // The film's bytes that each volume holds, by the volumes' own headers.
            const std::map<std::string, std::pair<size_t, size_t>> ranges = FilmRanges(release, set);
            std::vector<std::pair<size_t, size_t>> kept = {{0, covered}};
            Names gone;
            for (const std::string& volume : set.volumes) {
                const auto downloaded = before.find(volume);
                const std::string& original =
                    downloaded != before.end() ? downloaded->second : release.volumes.at(volume);
                bool arrived = downloaded != before.end();
                // A volume that a repair replaced is kept beside as NAME.damaged.
                bool there = Holds(group() + volume, original) || Holds(destination() + volume, original) ||
                             Holds(group() + volume, release.volumes.at(volume)) ||
                             Holds(group() + volume + ".damaged", original);
                if (FileExists(destination() + volume) && !Holds(destination() + volume, original))
                    losses.push_back(volume + " in the destination is not what the archive holds");
                for (const auto& zip : release.zips)
                    if (std::count(zip.second.begin(), zip.second.end(), volume) && before.count(zip.first)) {
                        arrived = true;
                        there = there || Holds(group() + zip.first, before.at(zip.first));
                    }
                if (there && ranges.count(volume))
                    kept.push_back(ranges.at(volume));
                else if (!there && arrived)
                    gone.push_back(volume);
            }
            // What is gone is lost unless the film's beginning kept and the volumes left cover
            // every byte of the film.
            std::sort(kept.begin(), kept.end());
            size_t reach = 0;
            for (const auto& range : kept)
                if (range.first <= reach)
                    reach = std::max(reach, range.second);
            if (!gone.empty() && reach < set.content.size())
                for (const std::string& volume : gone)
                    losses.push_back(volume + " is lost");
        }
        for (const auto& file : before)
            if (IsSfvName(file.first) && !delivered && !Holds(group() + file.first, file.second))
                losses.push_back(file.first + " went with an incomplete group");
        return losses;
    }

    // The texts of the progress calls of an undisturbed run of the release, which must succeed.
    Names TracedCalls(const Release& release, Fault fault = Fault::None, const std::string& text = "")
    {
        Prepare(release, fault, text);
        std::string trace;
        EXPECT_EQ(Pack("--trace", &trace), 0) << trace;
        Names calls;
        for (const std::string& line : Lines(trace))
            if (line.compare(0, 3, "cb ") == 0)
                calls.push_back(line.substr(line.find(' ', 3) + 1));
        return calls;
    }

    // The range of the film's bytes that each volume of its set holds, read from the volumes'
    // own headers; empty for a compressed film, whose volumes hold no range of it.
    std::map<std::string, std::pair<size_t, size_t>> FilmRanges(const Release& release, const FilmSet& set) const
    {
        auto& ranges = filmRanges_[set.film];
        if (!ranges.empty())
            return ranges;
        const std::string folder = dir_ / ("layout\\" + set.film + "\\");
        MakeDirectories(folder);
        std::vector<std::string> paths;
        for (const std::string& volume : set.volumes) {
            WriteFileBytes(folder + volume, release.volumes.at(volume));
            paths.push_back(folder + volume);
        }
        std::vector<RarFile> files;
        std::string error;
        EXPECT_TRUE(ReadRar5Layout(paths, files, error)) << error;
        for (const RarFile& file : files)
            if (file.name == set.film && file.stored) {
                size_t at = 0;
                for (const RarPart& part : file.parts) {
                    ranges[set.volumes[part.volume]] = {at, at + static_cast<size_t>(part.size)};
                    at += static_cast<size_t>(part.size);
                }
            }
        return ranges;
    }

    // A copy of the module with the settings that the dialog suggests, checking CRCs and
    // deleting sources as the row says.
    void UseSettings(const Row& row, const std::string& keep = "*.nfo", bool deleteTemp = true)
    {
        InstallModuleCopy(dir_ / "plugin", std::string("<DeleteTemp>") + (deleteTemp ? "1" : "0") +
                                               "</DeleteTemp><KeepOverWritten>1</KeepOverWritten>"
                                               "<Keep-src-nosfv>1</Keep-src-nosfv><Delete-sfv>1</Delete-sfv>"
                                               "<File-to-keep>" + keep + "</File-to-keep><Check-CRC>" +
                                               (row.checkCrc ? "1" : "0") + "</Check-CRC><Delete-src-during>" +
                                               (row.deleteDuring ? "1" : "0") + "</Delete-src-during>");
    }

    TempDir dir_;
    std::string smallDisk_;
    std::string outRoot_ = dir_ / "out\\";
    std::string srcRoot_ = dir_ / "src\\";
    mutable std::map<std::string, std::map<std::string, std::pair<size_t, size_t>>> filmRanges_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    std::string group_ = "Rel";
    std::string selection_;  // the names given to the pack command when not the group and Zed
    bool selectFiles_ = false;  // the group's files are selected instead, the destination missing
    bool withNfo_ = true;    // the release has an NFO file beside its archives
};

const Row kRows[] = {
    {"Intact", Six, Fault::None, "", true, true, 0, false},
    {"SfvNameInCapitals", Six, Fault::SfvName, "REL.SFV", true, true, 0, false},
    {"NoSfvKeepsTheSources", Six, Fault::NoSfv, "", true, true, 0, false},
    {"DamagedVolumeFoundBySfv", Six, Fault::DamagedVolume, "", true, true, 12, true},
    {"DamagedVolumeWithoutCrcCheck", Six, Fault::DamagedVolume, "", false, true, 12, false},
    {"DamagedVolumesInAMatchingZip", SixDamagedInZip, Fault::None, "", true, true, 12, false},
    {"MissingVolume", Six, Fault::MissingVolume, "", true, true, 15, false},
    {"LockedVolume", Six, Fault::LockedVolume, "", true, true, 15, false},
    {"FilmHeldByAPlayer", Six, Fault::PlayerHoldsFilm, "", true, true, 0, false},
    {"FileWhereTheDirectoryGoes", Six, Fault::FileForDirectory, "", true, true, 19, false},
    {"ReadOnlyFilmInTheWay", Six, Fault::ReadOnlyFilm, "", true, true, 0, false},
    {"FullDiskFilmBiggerThanTheDisk", Big, Fault::None, "", true, true, 19, false},
    {"FullDiskSecondZipDoesNotFit", BigInTwoZips, Fault::None, "", true, true, 19, false},
    {"TwoOldStyleSetsUnderDeletion", [] { return Built({kEpisode1, kEpisode2}); }, Fault::None, "", true, true, 0, false},
    {"TwoOldStyleSetsKept", [] { return Built({kEpisode1, kEpisode2}); }, Fault::None, "", true, false, 0, false},
    {"ZipNamedLikeAnSfv", Six, Fault::ExtrasSfvZip, "", true, true, 0, false},
    {"SecondSfvWrong", Six, Fault::SecondSfv, "zz.sfv", true, true, 12, true},
    {"FirstSfvWrong", Six, Fault::SecondSfv, "aa.sfv", true, true, 12, true},
    {"SetOfANewerRar", [] { return Built({{"newer.mkv", Parts("newer", 3)}}); }, Fault::None, "", true, true, 14, true},
    {"LaterVolumesWithoutTheFirst", Six, Fault::NoFirstVolume, "", false, true, 15, true},
    {"SelectedFileGone", Six, Fault::GoneFile, "", true, true, 15, false},
    {"ReleaseFolderWithDots", SixWithSubs, Fault::FolderName, "Movie.2019.1080p.RARBG", true, true, 0, false},
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

class FaultMatrix : public DownloadRun, public ::testing::WithParamInterface<Row> {};

TEST_P(FaultMatrix, NothingIsLost)
{
    const Row& row = GetParam();
    const bool smallDisk = std::string(row.name).compare(0, 8, "FullDisk") == 0;
    if (smallDisk && !OnSmallDisk())
        GTEST_SKIP() << "skipped: needs root (a tmpfs mounted by tests/small_disk.sh)";
    UseSettings(row);
    const Release release = row.release();
    const Files before = Prepare(release, row.fault, row.text);
    const bool heldFilm = row.fault == Fault::PlayerHoldsFilm || row.fault == Fault::ReadOnlyFilm;

    EXPECT_EQ(Pack(""), row.result);
    EXPECT_EQ(Losses(release, before, heldFilm ? kHeld : ""), Names{});
    const Names left = ListTree(group());
    if (row.result == 0) {
        for (const FilmSet& set : release.sets)
            EXPECT_TRUE(Holds(destination() + (heldFilm ? Beside(set.film) : set.film), set.content)) << set.film;
        // The settings keep sources that no SFV file vouched for.
        const bool sourcesGo = row.deleteDuring && row.fault != Fault::NoSfv;
        Names kept;
        for (const auto& file : before)
            if (!IsSfvName(file.first) && (!sourcesGo || file.first == kNfo))
                kept.push_back(file.first);
        EXPECT_EQ(left, kept);
    } else if (row.untouched) {
        Names changed;
        for (const auto& file : before)
            if (!Holds(group() + file.first, file.second))
                changed.push_back(file.first);
        EXPECT_EQ(changed, Names{}) << "changed or gone from the download folder";
        EXPECT_EQ(left.size(), before.size());
    }
    // The files that were in the way stay as they were; the next group comes out.
    if (!smallDisk) {
        EXPECT_TRUE(Holds(out() + "Zed\\zed.txt", kNext)) << "the next group was not unpacked";
    }
    if (heldFilm) {
        EXPECT_TRUE(Holds(destination() + "six.mkv", kHeld));
    } else if (row.fault == Fault::FileForDirectory) {
        EXPECT_TRUE(Holds(out() + "Rel", kHeld));
    } else if (row.fault == Fault::ExtrasSfvZip) {
        EXPECT_TRUE(Holds(destination() + "extras.txt", kExtras)) << "extras.sfv.zip was not extracted";
    } else if (row.fault == Fault::GoneFile) {
        EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content)) << "the rest was not unpacked";
    } else if (row.fault == Fault::FolderName) {
        EXPECT_TRUE(Holds(destination() + "Subs\\eng.srt", "1\r\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(kRows), RowName);

// Two archives of one group hold a file of one name, and one archive holds two names that are
// one file on Windows: each comes out, the later beside the earlier under a numbered name, and
// the group's text says so; a file of the user's has the name of a volume of the set in them.
// The sources still go: nothing of them is lost.
TEST_F(DownloadRun, SameNamesComeOutBesideEachOther)
{
    UseSettings(kRows[0]);
    Release release = Built({{"five.mkv", Parts("five", 5)}});
    const std::pair<const char*, std::vector<ZipEntry>> zips[] = {
        {"rel1.zip", {FileEntry("readme.txt", "first"), FileEntry("notes.txt", "lower"), FileEntry("NOTES.TXT", "upper")}},
        {"rel2.zip", {FileEntry("readme.txt", "second"), FileEntry("readme (2).txt", "third")}},
    };
    const Names held[] = {{"five.part1.rar", "five.part2.rar", "five.part3.rar"}, {"five.part4.rar", "five.part5.rar"}};
    for (int i = 0; i < 2; ++i) {
        std::vector<ZipEntry> entries = zips[i].second;
        for (const std::string& volume : held[i]) {
            entries.push_back(FileEntry(volume, release.volumes[volume], 0));
            release.files.erase(volume);
        }
        release.files[zips[i].first] = BuildZip(entries);
        release.zips[zips[i].first] = held[i];
    }
    const auto prepare = [&] {
        const Files laid = Prepare(release);
        MakeDirectories(destination());
        WriteFileBytes(destination() + "five.part2.rar", kHeld);
        return laid;
    };
    const Files before = prepare();
    std::string output;
    EXPECT_EQ(Pack("--trace", &output), 0) << output;
    EXPECT_EQ(Losses(release, before), Names{});
    // A set's volumes take no numbered names, which would part them: all go into a folder, and
    // it goes with them.
    EXPECT_TRUE(Holds(destination() + "five.part2.rar", kHeld));
    EXPECT_FALSE(DirectoryExists(destination() + "five.part1.rar volumes"));
    EXPECT_TRUE(Holds(destination() + "readme.txt", "first"));
    // An entry keeps its own name where it can; one that meets another file is numbered after.
    EXPECT_TRUE(Holds(destination() + "readme (2).txt", "third"));
    EXPECT_TRUE(Holds(destination() + "readme (3).txt", "second"));
    EXPECT_TRUE(Holds(destination() + "notes.txt", "lower"));
    EXPECT_TRUE(Holds(destination() + "NOTES (2).TXT", "upper"));
    EXPECT_NE(output.find("Rel: unpacked; the volumes of five.part1.rar came out into \"five.part1.rar volumes\", "
                          "beside files of their names; beside files of the same name: "),
              std::string::npos)
        << output;
    EXPECT_EQ(ListTree(group()), Names{kNfo});
    // Killed once the first ZIP file went with its volumes in their folder, and run again, the
    // volumes of the second still meet them there.
    const Names lines = Lines(output);
    const long at = 1 + std::count_if(lines.begin(), std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
                                          return line.compare(0, 3, "cb ") == 0 && line.find("rel2.zip") != std::string::npos &&
                                                 line.find("Verifying") == std::string::npos;
                                      }),
                                      [](const std::string& line) { return line.compare(0, 3, "cb ") == 0; });
    RemoveTree(src());
    RemoveTree(out());
    prepare();
    RunWcxhostPack("--exit-at " + std::to_string(at), dir_ / "plugin\\ravelpak.wcx64", out() + "new.zip", src(),
                   group_ + " Zed");
    EXPECT_FALSE(FileExists(group() + "rel1.zip"));
    EXPECT_EQ(Pack(""), 0);
    EXPECT_TRUE(Holds(destination() + "five.mkv", release.sets[0].content));
    EXPECT_TRUE(Holds(destination() + "five.part2.rar", kHeld));
}

// A journal that an earlier run left speaks of the files of that run. A new download of the
// same name is no file it consumed: the first run consumed rel.zip and failed on a volume that
// was damaged before it was zipped (its volumes written, as the keep list names them); the user downloads the release again, and the rerun unpacks
// the new rel.zip, replacing what the old one left, whatever the deletion settings say.
TEST_F(DownloadRun, ANewDownloadOfTheSameNameIsUnpackedNotTakenForTheOldOne)
{
    for (const bool deleting : {true, false}) {
        SCOPED_TRACE(deleting ? "rerun deleting sources" : "rerun with every deletion off");
        RemoveTree(src());
        RemoveTree(out());
        // The keep list names the volumes: they are written, and rel.zip goes before the damage is found.
        UseSettings(kRows[0], "*.rar");
        Prepare(SixDamagedInZip());
        ASSERT_EQ(Pack(""), 12);
        const Names left = ListTree(destination());
        ASSERT_TRUE(std::any_of(left.begin(), left.end(),
                                [](const std::string& name) { return name.rfind(".ravelpak-journal-", 0) == 0; }));
        UseSettings(kRows[0]);
        if (!deleting) {
            InstallModuleCopy(dir_ / "plugin", "<DeleteTemp>0</DeleteTemp><Delete-sfv>0</Delete-sfv><Check-CRC>1"
                                               "</Check-CRC><Delete-src-during>0</Delete-src-during>");
        }
        const Release release = Zipped(Six(), "rel.zip", Parts("six", 6));
        RemoveTree(group());
        const Files before = Prepare(release);
        std::string output;
        EXPECT_EQ(Pack("--trace", &output), 0) << output;
        EXPECT_EQ(Losses(release, before), Names{});
        EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content));
        EXPECT_NE(output.find("rel.zip is not the file an earlier run took, and was unpacked anew"), std::string::npos)
            << output;
        EXPECT_EQ(Holds(group() + "rel.zip", before.at("rel.zip")), !deleting);
    }
}

// A journal that names a selected archive consumed does not make it an intermediate file by
// where it lies: spelt through the destination, or in a destination that is the download's own
// folder, it is a source, which stays while sources are kept.
TEST_F(DownloadRun, ASourceSpeltThroughTheDestinationIsStillASource)
{
    UseSettings({"SourcesKept", nullptr, Fault::None, "", true, false, 0, false});
    const Release release = Zipped(Six(), "rel.zip", Parts("six", 6));
    const std::string& film = release.sets[0].content;
    for (bool intoDownload : {false, true}) {
        RemoveTree(src());
        RemoveTree(out());
        const Files before = Prepare(release);
        const std::string into = intoDownload ? group() : destination();
        MakeDirectories(into);
        WriteFileBytes(into + "six.mkv", film);
        const std::string spelt = intoDownload ? group() + "rel.zip" : into + "..\\..\\src\\" + group_ + "\\rel.zip";
        JournalRecords planted;
        planted.consumed = {{spelt, spelt, ProofOf(before.at("rel.zip"))}};
        planted.outputs = {{spelt, Recorded(into + "six.mkv", film)}};
        PlantJournal(dir_ / "plugin", into, group(), planted);
        if (intoDownload)
            EXPECT_EQ(Lines(RunWcxhostPack("", dir_ / "plugin\\ravelpak.wcx64", group() + "new.zip", group(), "rel.zip")
                                .output)
                          .back(),
                      "result 0");
        else
            EXPECT_EQ(Pack(""), 0);
        EXPECT_TRUE(Holds(group() + "rel.zip", before.at("rel.zip"))) << intoDownload;
    }
}

// What came out of a file that a dead run consumed counts only once it is found whole: a volume
// that another file took the place of since is left as it is, neither unpacked nor deleted.
TEST_F(DownloadRun, AnOutputOfAConsumedFileCountsOnlyWhole)
{
    UseSettings(kRows[0]);
    const Release release = Zipped(Six(), "rel.zip", Parts("six", 6));
    const Files before = Prepare(release);
    DeleteFileA((group() + "rel.zip").c_str());
    JournalRecords journal;
    journal.verified = {Recorded(group() + "rel.zip", before.at("rel.zip"))};
    journal.consumed = {{group() + "rel.zip", group() + "rel.zip", ProofOf(before.at("rel.zip"))}};
    MakeDirectories(destination());
    for (const std::string& volume : Parts("six", 6)) {
        WriteFileBytes(destination() + volume, volume == "six.part1.rar" ? "the user's" : release.volumes.at(volume));
        journal.outputs.push_back({group() + "rel.zip", Recorded(destination() + volume, release.volumes.at(volume))});
    }
    PlantJournal(dir_ / "plugin", destination(), group(), journal);
    std::string output;
    EXPECT_NE(Pack("--trace", &output), 0) << output;
    EXPECT_NE(output.find("six.part1.rar is not what came out of rel.zip; it was left as it is"), std::string::npos)
        << output;
    EXPECT_TRUE(Holds(destination() + "six.part1.rar", "the user's"));
}

// A file of the user's that holds what an archive gives under its name is no file of the job's:
// no second copy of it is made, and it stays when the job's own intermediate files go.
TEST_F(DownloadRun, AFileThatStoodWithAnOutputsContentStaysTheUsers)
{
    UseSettings(kRows[0]);
    const Release release = Zipped(Six(), "rel.zip", Parts("six", 6));
    const Files before = Prepare(release);
    MakeDirectories(destination());
    WriteFileBytes(destination() + "six.part1.rar", release.volumes.at("six.part1.rar"));
    EXPECT_EQ(Pack(""), 0);
    EXPECT_EQ(Losses(release, before), Names{});
    EXPECT_TRUE(Holds(destination() + "six.part1.rar", release.volumes.at("six.part1.rar")));
    EXPECT_EQ(ListTree(destination()), (Names{"six.mkv", "six.part1.rar"}));
}

// A repair that a dead run recorded moves or deletes only the damaged file that it kept aside:
// a file of other content under that name now stays, also as the SFV file goes.
TEST_F(DownloadRun, OnlyTheDamagedFileARepairKeptGoesWithIt)
{
    UseSettings(kRows[0]);
    const Release release = SixWithPar2();
    const Files before = Prepare(release);
    JournalRecords planted;
    const std::string volume = group() + "six.part4.rar";
    planted.repaired = {{volume, volume, volume + ".damaged", ProofOf("the damaged copy")}};
    PlantJournal(dir_ / "plugin", destination(), group(), planted);
    WriteFileBytes(volume + ".damaged", "the user's");
    EXPECT_EQ(Pack(""), 0);
    EXPECT_TRUE(Holds(volume + ".damaged", "the user's"));
    EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content));
}

// A PAR2 set that names two files whose names differ only in letter case, one name on Windows,
// never restores one over the other that it found whole there: it stays, and the text says so.
TEST_F(DownloadRun, APar2SetNeverRestoresOverAFileItFoundWhole)
{
    UseSettings(kRows[0]);
    const std::pair<std::string, std::string> kept[] = {{"Notes.txt", "the upper one\r\n"},
                                                        {"notes.txt", "the lower one, longer\r\n"}};
    for (int k = 0; k < 2; ++k) {
        RemoveTree(src());
        RemoveTree(out());
        Release release = Six();
        for (const char* name : {"case.par2", "case.vol0+2.par2"})
            release.files[name] = ReadFileBytes(FixturePath(name));
        release.files[kept[k].first] = kept[k].second;
        Prepare(release);
        selectFiles_ = true;
        std::string output;
        EXPECT_EQ(Pack("--trace", &output), 0) << output;
        EXPECT_NE(output.find(kept[1 - k].first + " of case.par2 is " + kept[k].first +
                              " on Windows, which is whole: it was not restored"),
                  std::string::npos)
            << output;
        EXPECT_TRUE(Holds(group() + kept[k].first, kept[k].second));
        EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content));
    }
}

// A link below a folder of the job leads no change out of it: a PAR2 set does not repair the
// user's file that a selected name reaches through a linked subfolder, and a journal record of
// a file through a link in the destination deletes nothing. The fixture's links/root/out is a
// link to links/outside; what the runs add to links/root goes again.
TEST_F(DownloadRun, LinksLeadNoChangeOutOfTheFolders)
{
    UseSettings({"Links", nullptr, Fault::None, "", true, true, 0, false});
    const std::string links = FixturePath("links") + "\\";
    const std::string root = links + "root\\", outside = links + "outside\\";
    const std::string plugin = dir_ / "plugin\\ravelpak.wcx64";
    const auto result = [](const ProcessResult& run) { return Lines(run.output).back(); };
    for (const char* name : {"evil.par2", "evil.vol0+8.par2"})
        WriteFileBytes(root + name, ReadFileBytes(links + name));
    EXPECT_NE(result(RunWcxhostPack("", plugin, out() + "new.zip", root, "evil.par2 evil.vol0+8.par2 out\\evil.bin")),
              "result 0");
    for (const char* name : {"evil.par2", "evil.vol0+8.par2"})
        DeleteFileA((root + name).c_str());

    MakeDirectories(src());
    WriteFileBytes(src() + "a.zip", BuildZip({FileEntry("a.txt", "a")}));
    JournalRecords planted;
    planted.consumed = {{root + "out\\evil.bin", root + "out\\evil.bin", ProofOf(ReadFileBytes(outside + "evil.bin"))}};
    planted.outputs = {{root + "out\\evil.bin", Recorded(root + "own.txt", "own")}};
    PlantJournal(dir_ / "plugin", root, src(), planted);
    EXPECT_EQ(result(RunWcxhostPack("", plugin, root + "new.zip", src(), "a.zip")), "result 0");
    EXPECT_EQ(ReadFileBytes(root + "a.txt"), "a");
    DeleteFileA((root + "a.txt").c_str());

    EXPECT_EQ(ListTree(outside), Names{"evil.bin"});
    EXPECT_EQ(ReadFileBytes(outside + "evil.bin"), "the user's own");
    EXPECT_EQ(ListTree(root), (Names{"inner\\", "inner\\evil.bin", "out\\", "out\\evil.bin", "own.txt"}));
}

// A journal is a name of the engine's own: an archive entry of that name is an unsafe name,
// whatever it holds, and the group fails, keeping its archive. Unpacked in place, a download
// that carries a journal of an older version's name beside its archive has it told and never
// used: it names a document of the user's consumed, with its true size and CRC, and the NFO as
// what it lives on in; so has the journal of another job into the same folder, which stays.
TEST_F(DownloadRun, AJournalThatCameWithADownloadIsNeverUsed)
{
    UseSettings(kRows[0]);
    ZipEntry broken = FileEntry("broken.txt", "of a method no reader knows", 0);
    broken.method = 99;
    Release release = Zipped(Six(), "rel.zip", Parts("six", 6),
                             {FileEntry(kNfo, "notes", 0), FileEntry(".ravelpak-journal", "a journal", 0), broken});
    Files before = Prepare(release);
    std::string output;
    EXPECT_EQ(Pack("--trace", &output), 12) << output;
    EXPECT_NE(output.find("Rel: rel.zip holds an unsafe name"), std::string::npos) << output;
    EXPECT_TRUE(Holds(group() + "rel.zip", before.at("rel.zip")));

    RemoveTree(src());
    RemoveTree(out());
    release = Zipped(Six(), "rel.zip", Parts("six", 6));
    before = Prepare(release);
    const std::string thesis = "the thesis of three years\r\n";
    WriteFileBytes(group() + "thesis.docx", thesis);
    const std::string journal = "ravelpak journal 3\nC\t" + group() + "thesis.docx\t" + group() + "thesis.docx\t" +
                                std::to_string(thesis.size()) + "\t" + CrcHex(thesis) + "\t-\t-\t-\nO\t" + group() +
                                "thesis.docx\t" + group() + kNfo + "\t0\t00000000\n";
    WriteFileBytes(group() + ".ravelpak-journal", journal + "end\t" + CrcHex(journal) + "\n");
    JournalRecords planted;
    planted.consumed = {{group() + "thesis.docx", group() + "thesis.docx", ProofOf(thesis)}};
    planted.outputs = {{group() + "thesis.docx", Recorded(group() + kNfo, "notes")}};
    MakeDirectories(dir_ / "other");
    PlantJournal(dir_ / "plugin", group(), dir_ / "other\\", planted);
    Names others;
    for (const std::string& name : ListTree(group()))
        if (name.rfind(".ravelpak-journal-", 0) == 0)
            others.push_back(name);
    ASSERT_EQ(others.size(), 1u);
    const std::string other = ReadFileBytes(group() + others[0]);
    const ProcessResult run = RunWcxhostPack("--trace", dir_ / "plugin\\ravelpak.wcx64", group() + "new.zip", group(), "rel.zip");
    EXPECT_EQ(Lines(run.output).back(), "result 0") << run.output;
    EXPECT_NE(run.output.find(".ravelpak-journal is not a journal of this job and was not used"), std::string::npos)
        << run.output;
    EXPECT_TRUE(Holds(group() + "thesis.docx", thesis));
    EXPECT_TRUE(Holds(group() + ".ravelpak-journal", journal + "end\t" + CrcHex(journal) + "\n"));
    EXPECT_NE(run.output.find(others[0] + " is not a journal of this job and was not used"), std::string::npos);
    EXPECT_TRUE(Holds(group() + others[0], other));
    EXPECT_TRUE(Holds(group() + "six.mkv", release.sets[0].content));

    // Where no key can be read or made, nothing is deleted, and the text says so.
    RemoveTree(out());
    DeleteFileA((dir_ / "plugin\\ravelpak.key").c_str());
    MakeDirectories(dir_ / "plugin\\ravelpak.key");
    EXPECT_EQ(Pack("--trace", &output), 0) << output;
    EXPECT_NE(output.find("nothing was deleted: there is no key for the job's journal at " + dir_ / "plugin\\ravelpak.key"),
              std::string::npos)
        << output;
    EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content));
    EXPECT_EQ(Losses(release, before), Names{});
    EXPECT_TRUE(Holds(group() + "rel.zip", before.at("rel.zip")));
}

// Entries that odd writers make: data whose attributes carry the directory bit comes out as the
// file it is; a name of 20,000 folder levels, which no file system takes, fails its entry with a
// clear text and keeps the archive, and the host lives on to unpack the next group.
TEST_F(DownloadRun, OddEntriesAreToldNeverDropped)
{
    UseSettings(kRows[0]);
    ZipEntry flagged = FileEntry("notes.txt", "a file marked as a directory\r\n", 0);
    flagged.externalAttributes = 0x10;
    const Release withFlag = Zipped(Six(), "rel.zip", Parts("six", 6), {flagged});
    Files before = Prepare(withFlag);
    std::string output;
    EXPECT_EQ(Pack("--trace", &output), 0) << output;
    EXPECT_TRUE(Holds(destination() + "notes.txt", "a file marked as a directory\r\n"));
    EXPECT_EQ(Losses(withFlag, before), Names{});

    RemoveTree(src());
    RemoveTree(out());
    std::string deep;
    for (int level = 0; level < 20000; ++level)
        deep += "d/";
    const Release withDeepName = Zipped(Six(), "rel.zip", Parts("six", 6), {FileEntry(deep + "x.txt", "deep", 0)});
    before = Prepare(withDeepName);
    EXPECT_EQ(Pack("--trace", &output), 19) << output.substr(0, 2000);
    EXPECT_NE(output.find("Rel: cannot write an entry of rel.zip: its name is longer than Windows allows"),
              std::string::npos)
        << output.substr(0, 2000);
    EXPECT_TRUE(Holds(group() + "rel.zip", before.at("rel.zip")));
    EXPECT_TRUE(Holds(out() + "Zed\\zed.txt", kNext));
    EXPECT_EQ(Losses(withDeepName, before), Names{});
}

// The reads that check files a run finds in its way call the host for every 512 KiB they read,
// so that its window stays alive and a stop is heard: the same-content check of a film that
// stands in the destination already, and on a rerun the checks that a consumed file is the one
// consumed and that what came out of it is whole.
TEST_F(DownloadRun, LongReadsCallTheHostForEvery512KiB)
{
    UseSettings(kRows[0]);
    const auto calls = [](const std::string& trace, const std::string& path) {
        long count = 0;
        for (const std::string& line : Lines(trace))
            count += line == "cb 0 " + path;
        return count;
    };
    const long kBlock = 512 << 10;
    Release release = Big();
    Prepare(release);
    MakeDirectories(destination());
    WriteFileBytes(destination() + "big.mkv", release.sets[0].content);
    std::string trace;
    EXPECT_EQ(Pack("--trace", &trace), 0) << trace.substr(0, 2000);
    EXPECT_GE(calls(trace, destination() + "big.mkv"), static_cast<long>(release.sets[0].content.size()) / kBlock);

    // A journal as a run leaves it that died after it consumed rel.zip, before deleting it.
    RemoveTree(src());
    RemoveTree(out());
    release = Zipped(Big(), "rel.zip", OldNames("big"));
    const Files before = Prepare(release);
    MakeDirectories(destination());
    JournalRecords journal;
    journal.consumed = {{group() + "rel.zip", group() + "rel.zip", ProofOf(before.at("rel.zip"))}};
    for (const std::string& volume : OldNames("big")) {
        WriteFileBytes(destination() + volume, release.volumes.at(volume));
        journal.outputs.push_back({group() + "rel.zip", Recorded(destination() + volume, release.volumes.at(volume))});
    }
    PlantJournal(dir_ / "plugin", destination(), group(), journal);
    EXPECT_EQ(Pack("--trace", &trace), 0) << trace.substr(0, 2000);
    EXPECT_TRUE(Holds(destination() + "big.mkv", release.sets[0].content));
    EXPECT_FALSE(FileExists(group() + "rel.zip"));
    EXPECT_GE(calls(trace, group() + "rel.zip"), static_cast<long>(before.at("rel.zip").size()) / kBlock);
    for (const std::string& volume : OldNames("big"))
        EXPECT_GE(calls(trace, destination() + volume), static_cast<long>(release.volumes.at(volume).size()) / kBlock)
            << volume;
}

// Six in one ZIP file whose CRC-32 for six.part2.rar (in its local and central headers) is wrong.
Release SixInAZipWithAWrongCrc()
{
    Release release = Zipped(Six(), "rel.zip", Parts("six", 6));
    std::string& zip = release.files["rel.zip"];
    const uint32_t crc = static_cast<uint32_t>(std::stoul(CrcHex(release.volumes["six.part2.rar"]), nullptr, 16));
    const std::string stored = LittleEndian(crc, 4), wrong = LittleEndian(crc ^ 1, 4);
    for (size_t at = zip.find(stored); at != std::string::npos; at = zip.find(stored, at + 4))
        zip.replace(at, 4, wrong);
    return release;
}

// A film in stored RAR 4 volumes of the old naming, written as RAR 3 writes them, in a ZIP; its
// name has no Unicode form: its bytes are of the OEM code page (0x82 is "é"). Its time is local.
// The tests run in Central European Time, with summer time from March to October.
const char kRar4TimeUtc[] = "133643016001234567";  // 2024-07-01 10:00 UTC
Release Rar4InAZip()
{
    rar4::File file;
    file.name = "caf\x82.mkv";
    file.data = PatternBytes(150000, 4);
    // Written on 2024-07-01 at 12:00 to the 100 ns, in summer time of the zone of the run.
    file.dosTime = 44u << 25 | 7u << 21 | 1u << 16 | 12u << 11;
    file.extendedTime = rar4::Le(0xB000, 2) + rar4::Le(1234567, 3);
    const std::vector<std::string> volumes = rar4::WriteSet({file}, 40000);
    Release release;
    Names names;
    for (size_t i = 0; i < volumes.size(); ++i) {
        names.push_back(i == 0 ? "old4.rar" : "old4.r0" + std::to_string(i - 1));
        release.volumes[names.back()] = release.files[names.back()] = volumes[i];
    }
    release.sets.push_back({"caf\xc3\xa9.mkv", file.data, names});
    return Zipped(release, "rel.zip", names);
}

// A RAR 5 set from a fixture folder, in a ZIP.
Release FixtureSetInAZip(const std::string& stem, int volumes, const std::string& film)
{
    Release release = Built({{stem + "/" + film, Parts(stem, volumes)}});
    release.sets[0].film = film;
    return Zipped(release, "rel.zip", Parts(stem, volumes));
}

// What a destination holds but the volumes a keep list keeps and the job's journal: each file's
// CRC-32, write time and attributes (a folder's time is when it was made, either way).
std::map<std::string, std::string> Unpacked(const std::string& destination)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : ListTree(destination)) {
        if (name.find(".rar") != std::string::npos || name.find(".r0") != std::string::npos ||
            name.rfind(".ravelpak-journal-", 0) == 0)
            continue;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(Widen(destination + name).c_str(), GetFileExInfoStandard, &data);
        const uint64_t time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
        const bool folder = name.back() == '\\';
        files[name] = (folder ? "folder" : CrcHex(ReadFileBytes(destination + name)) + " at " + std::to_string(time)) +
                      " attributes " + std::to_string(data.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE);
    }
    return files;
}

// A set that comes out of its ZIP file gives the same files, bytes, names, times and attributes,
// and the same result, whether it is streamed into its files or its volumes are written and
// unpacked through the UnRAR library: names as the library gives them on Windows (a backslash of
// a Unix name, and a colon, become "_"; a RAR 4 name without its Unicode form is read in the OEM
// code page), times to the 100 ns (a RAR 4 time in the zone of the run, summer time where it was
// then), a reference as a copy of the file it refers to, a link told and never made.
TEST_F(DownloadRun, AStreamedSetGivesWhatItsVolumesGive)
{
    const struct {
        const char* name;
        Release (*release)();
        Names names;       // what comes out
        bool streamed;     // the first way takes it: no volume of it is written
        const char* said;  // in the group's text
        int result;
    } sets[] = {
        // Unix names, a time to the nanosecond, an empty file, folders, an archive, which comes out as it is.
        {"UnixNamesAndPreciseTimes", [] { return FixtureSetInAZip("names", 2, "names.mkv"); },
         {"a_b.txt", "c_d.txt", "empty.txt", "inner.zip", "names.mkv", "sub\\", "sub\\in.txt", "void\\"}, true,
         "Rel: unpacked", 0},
        {"ReferenceAndLink", [] { return FixtureSetInAZip("odd", 3, "odd.mkv"); }, {"copy.mkv", "odd.mkv"}, false,
         "link.mkv is a link, not unpacked", 0},
        {"Rar4OemName", Rar4InAZip, {"caf\xc3\xa9.mkv"}, true, "Rel: unpacked", 0},
        // Nothing of a damaged set comes out either way.
        {"DamagedVolume", SixDamagedInZip, {}, true, "six.part4.rar", 12},
    };
    for (const auto& set : sets) {
        SCOPED_TRACE(set.name);
        const Release release = set.release();
        std::map<std::string, std::string> ways[2];
        for (int way = 0; way < 2; ++way) {
            RemoveTree(src());
            RemoveTree(out());
            UseSettings(kRows[0], way == 0 ? "*.nfo" : "*.rar");
            Prepare(release);
            std::string output;
            EXPECT_EQ(Pack("--trace", &output), set.result) << output;
            EXPECT_NE(output.find(set.said), std::string::npos) << output;
            EXPECT_TRUE(way == 1 || (output.find(destination() + release.sets[0].volumes[0]) == std::string::npos) ==
                                        set.streamed);
            ways[way] = Unpacked(destination());
        }
        EXPECT_EQ(ways[0], ways[1]);
        Names came;
        for (const auto& file : ways[0])
            came.push_back(file.first);
        EXPECT_EQ(came, set.names);
        // A reference is a copy of the file it refers to.
        for (const std::string& name : {release.sets[0].film, std::string("copy.mkv")})
            EXPECT_TRUE(!ways[0].count(name) || Holds(destination() + name, release.sets[0].content)) << name;
        if (set.release == Rar4InAZip) {
            EXPECT_NE(ways[0]["caf\xc3\xa9.mkv"].find(std::string(" at ") + kRar4TimeUtc), std::string::npos);
        }
    }
}

// A stored set inside ZIP files whose volumes the settings would delete anyway is copied
// straight into its film: a folder that stands under each volume's temporary name in the
// destination, where writing the volume would begin, is never in the way, and no progress call
// names a volume there. Where the settings keep the volumes, they are written and stay. A set
// whose data fails a check keeps its ZIP file, and the text names the volume; a ZIP file that
// fails its SFV check, found from the read that copies the film, takes with it what came out.
struct StreamRow {
    const char* name;
    Release (*release)();
    Fault fault;
    const char* keep;  // the keep list
    bool deleteTemp;
    int result;
    const char* said;  // in the group's text
};

const StreamRow kStreamRows[] = {
    {"TwoZipsOfOneSet", FiveInTwoZips, Fault::None, "*.nfo", true, 0, "Rel: unpacked"},
    {"SetBesideSubtitles", SixWithSubs, Fault::None, "*.nfo", true, 0, "Rel: unpacked"},
    {"VolumesOnTheKeepList", FiveInTwoZips, Fault::None, "*.rar", true, 0, "Rel: unpacked"},
    {"TemporaryFilesKept", FiveInTwoZips, Fault::None, "*.nfo", false, 0, "Rel: unpacked"},
    {"DamagedBeforeZipping", SixDamagedInZip, Fault::None, "*.nfo", true, 12, "six.part4.rar in rel.zip is damaged"},
    {"ZipCrcDoesNotMatch", SixInAZipWithAWrongCrc, Fault::None, "*.nfo", true, 12,
     "CRC mismatch in six.part2.rar of rel.zip"},
    {"LaterZipChangedAfterItsSfv", FiveInTwoZipsWithExtras, Fault::ZipChanged, "*.nfo", true, 12,
     "Rel: CRC mismatch in rel2.zip, nothing unpacked"},
    {"ZipMissing", FiveInTwoZips, Fault::MissingZip, "*.nfo", true, 15, "Rel: rel2.zip is missing, nothing unpacked"},
};

class StoredSetInZips : public DownloadRun, public ::testing::WithParamInterface<StreamRow> {};

TEST_P(StoredSetInZips, NoVolumeIsWrittenUnlessTheSettingsKeepIt)
{
    const StreamRow& row = GetParam();
    // Sources that went would take the volumes with them as sources of the second pass.
    const bool kept = !row.deleteTemp || std::string(row.keep) == "*.rar";
    UseSettings({row.name, nullptr, Fault::None, "", true, !kept, 0, false}, row.keep, row.deleteTemp);
    const Release release = row.release();
    const Files before = Prepare(release, row.fault);
    if (!kept)
        for (const auto& volume : release.volumes)
            MakeDirectories(destination() + volume.first + ".incomplete");
    std::string trace;
    EXPECT_EQ(Pack("--trace", &trace), row.result) << trace;
    EXPECT_NE(trace.find(row.said), std::string::npos) << trace;
    EXPECT_EQ(Holds(destination() + release.sets[0].film, release.sets[0].content), row.result == 0);
    if (row.fault != Fault::None) {
        for (const std::string& name : ListTree(destination()))
            EXPECT_EQ(name.back(), '\\') << name << " came out of a download that failed its check";
    }
    for (const auto& volume : release.volumes) {
        EXPECT_EQ(Holds(destination() + volume.first, volume.second), kept) << volume.first;
        if (!kept) {
            EXPECT_EQ(trace.find(destination() + volume.first), std::string::npos) << volume.first;
        }
    }
    Names left = {kNfo};
    for (const auto& file : before)
        if ((kept || row.result != 0) && file.first != kNfo && (row.result != 0 || !IsSfvName(file.first)))
            left.push_back(file.first);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(ListTree(group()), left);
    EXPECT_EQ(Losses(release, before), Names{});
    if (row.fault != Fault::ZipChanged)
        return;
    // Killed at any progress call and run again, a download that fails its check never has its
    // film under its real name.
    const Names lines = Lines(trace);
    const long calls =
        std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.compare(0, 3, "cb ") == 0; });
    for (long at = 1; at <= calls; ++at) {
        RemoveTree(src());
        RemoveTree(out());
        Prepare(release, row.fault);
        RunWcxhostPack("--exit-at " + std::to_string(at), dir_ / "plugin\\ravelpak.wcx64", out() + "new.zip", src(),
                       group_ + " Zed");
        EXPECT_FALSE(FileExists(destination() + release.sets[0].film)) << "killed at call " << at;
        EXPECT_EQ(Pack(""), row.result) << "killed at call " << at;
        EXPECT_FALSE(FileExists(destination() + release.sets[0].film)) << "run again after a kill at call " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StoredSetInZips, ::testing::ValuesIn(kStreamRows),
                         [](const ::testing::TestParamInfo<StreamRow>& info) { return std::string(info.param.name); });

class FaultSweep : public DownloadRun, public ::testing::WithParamInterface<Row> {};

// The row's fault struck at each progress call in turn (the row's text names the wcxhost option:
// a stop, answered from there on as the host does once the user cancelled, or another program
// filling the disk) ends the run with the row's result and loses nothing. A disk that fills
// when everything is out costs nothing: those runs may succeed.
TEST_P(FaultSweep, FaultAtEveryCallKeepsTheDownload)
{
    const Row& row = GetParam();
    const bool fillsDisk = std::string(row.text) == "--fill-disk-at";
    if (fillsDisk && !OnSmallDisk())
        GTEST_SKIP() << "skipped: needs root (a tmpfs mounted by tests/small_disk.sh)";
    UseSettings(row);
    const Release release = row.release();
    const long calls = static_cast<long>(TracedCalls(release).size());
    ASSERT_GT(calls, 0);

    const long kMostStops = 150;
    const long stops = std::min(calls, kMostStops);
    std::map<int, std::vector<long>> wrongResults;  // result: the calls stopped at
    Names losses;
    for (long i = 0; i < stops; ++i) {
        const long at = stops == calls ? i + 1 : 1 + i * (calls - 1) / (stops - 1);
        RemoveTree(src());
        RemoveTree(out());
        const Files before = Prepare(release);
        const std::string hog = smallDisk_ + "hog";
        const int result = Pack(row.text + (" " + std::to_string(at)) + (fillsDisk ? " " + Quote(hog) : ""));
        if (fillsDisk)
            DeleteFileA(hog.c_str());
        if (result != row.result && !(fillsDisk && result == 0))
            wrongResults[result].push_back(at);
        for (const std::string& loss : Losses(release, before))
            losses.push_back("at call " + std::to_string(at) + ": " + loss);
    }
    std::string report;
    for (const auto& wrong : wrongResults)
        report += "\n  result " + std::to_string(wrong.first) + " at " + std::to_string(wrong.second.size()) +
                  " stops, calls " + std::to_string(wrong.second.front()) + " to " +
                  std::to_string(wrong.second.back());
    for (size_t i = 0; i < losses.size() && i < 12; ++i)
        report += "\n  " + losses[i];
    EXPECT_TRUE(wrongResults.empty() && losses.empty())
        << stops << " runs over " << calls << " progress calls, " << losses.size() << " losses:" << report;
}

const Row kSweptReleases[] = {
    {"StopInTwoZipsOfAFiveVolumeSet", FiveInTwoZips, Fault::None, "--cancel-at", true, true, 21, false},
    {"StopInAnOldStyleSet", [] { return Built({{"old.mkv", OldNames("old")}}); }, Fault::None, "--cancel-at", true,
     true, 21, false},
    {"StopInARepairByPar2", SixDamagedWithPar2, Fault::None, "--cancel-at", true, true, 21, false},
    // The set fits until another program fills the disk: its volumes go only after the film.
    {"FullDiskInASetOfSixVolumes", Six, Fault::None, "--fill-disk-at", true, true, 19, false},
    // The ZIP archives go as they come out; the volumes they held go after the whole set.
    {"FullDiskInTwoZipsOfAFiveVolumeSet", FiveInTwoZips, Fault::None, "--fill-disk-at", true, true, 19, false},
};

INSTANTIATE_TEST_SUITE_P(Releases, FaultSweep, ::testing::ValuesIn(kSweptReleases), RowName);

// A download with PAR2 files: what it lacks is rebuilt, or found under another name, before
// its SFV file is checked and it is unpacked; what cannot be repaired is kept as it was, with
// the counts in the text. A set that names a file outside its folder is not used, and no file
// of that name is touched.
struct Par2Row {
    const char* name;
    Release (*release)();
    Fault fault;
    const char* text;
    bool deleting;  // sources, temporary and check files go; otherwise every deletion is off
    int result;
    const char* said;     // in the group's text
    bool vouches = true;  // the set vouches for the volumes: without an SFV file they may go
};

const Par2Row kPar2Rows[] = {
    {"Intact", [] { return SixWithPar2(); }, Fault::None, "", true, 0, ": unpacked"},
    {"DamagedVolumeKept", [] { return SixWithPar2(); }, Fault::DamagedVolume, "", false, 0,
     "six.part4.rar was repaired"},
    {"DamagedVolumeBesideAPartialDownload", [] { return SixWithPar2(); }, Fault::BesidePartial, "", true, 0,
     "six.part4.rar was repaired"},
    {"MissingVolume", [] { return SixWithPar2(); }, Fault::MissingVolume, "", true, 0, "six.part5.rar was repaired"},
    {"MissingFirstVolume", [] { return SixWithPar2(); }, Fault::NoFirstVolume, "", true, 0,
     "six.part1.rar was repaired"},
    {"ObfuscatedName", [] { return SixWithPar2(); }, Fault::RenamedVolume, "a81f09c2d7", true, 0,
     "a81f09c2d7 was renamed to six.part3.rar"},
    {"TooFewRecoverySlices", [] { return SixWithPar2(3); }, Fault::MissingVolume, "", true, 12,
     "cannot repair six.part5.rar: 5 slices missing or damaged, 3 recovery slices, nothing unpacked"},
    {"HostileName",
     [] {
         Release release = SixWithPar2();
         release.files["hostile.par2"] = ReadFileBytes(FixturePath("hostile.par2"));
         return release;
     },
     Fault::None, "", true, 0, "a PAR2 set was not used: the name \"../outside.txt\""},
    // A set of the NFO file alone checks no volume: they are kept, as without an SFV file.
    {"SetOfTheNfoAlone",
     [] {
         Release release = Six();
         release.files["nfo.par2"] = ReadFileBytes(FixturePath("nfo.par2"));
         release.sfv = false;
         return release;
     },
     Fault::None, "", true, 0, ": unpacked", false},
};

class Par2Repair : public DownloadRun, public ::testing::WithParamInterface<Par2Row> {};

TEST_P(Par2Repair, TheDownloadGivesTheFilmOrStaysAsItWas)
{
    const Par2Row& row = GetParam();
    UseSettings({row.name, nullptr, row.fault, "", true, row.deleting, row.result, false});
    if (!row.deleting)
        InstallModuleCopy(dir_ / "plugin", "<DeleteTemp>0</DeleteTemp><Delete-sfv>0</Delete-sfv><Check-CRC>1"
                                           "</Check-CRC><Delete-src-during>0</Delete-src-during>");
    const Release release = row.release();
    const Files before = Prepare(release, row.fault, row.text);
    WriteFileBytes(src() + "outside.txt", "the user's own");
    selectFiles_ = true;
    std::string output;
    EXPECT_EQ(Pack("--trace", &output), row.result) << output;
    EXPECT_NE(output.find(row.said), std::string::npos) << output;
    EXPECT_EQ(output.find("journal of an earlier run"), std::string::npos) << output;
    for (const std::string& line : Lines(output))
        EXPECT_EQ(line.find(".ravelpak-journal"), std::string::npos) << "the host was shown " << line;
    EXPECT_EQ(Losses(release, before), Names{});
    EXPECT_TRUE(Holds(src() + "outside.txt", "the user's own"));
    for (const auto& file : before)
        if (file.first.find(".incomplete") != std::string::npos) {
            EXPECT_TRUE(Holds(group() + file.first, file.second)) << file.first << " was written over";
        }
    Names changed;
    for (const auto& file : before)
        if (!Holds(group() + file.first, file.second))
            changed.push_back(file.first);
    if (row.result != 0) {
        EXPECT_EQ(changed, Names{}) << "changed or gone from the download folder";
        EXPECT_EQ(ListTree(group()).size(), before.size());
        EXPECT_FALSE(DirectoryExists(destination())) << "the job made a folder and left it empty";
        return;
    }
    EXPECT_TRUE(Holds(destination() + "six.mkv", release.sets[0].content));
    if (row.deleting) {
        Names left = {kNfo};
        for (const auto& file : before)
            if ((!row.vouches && !IsSfvName(file.first) && file.first != kNfo) ||
                file.first.find(".incomplete") != std::string::npos)
                left.push_back(file.first);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(ListTree(group()), left);
        return;
    }
    // Every file stays; the repaired one holds what the set made it of, the damaged one beside.
    EXPECT_EQ(changed, Names{"six.part4.rar"});
    EXPECT_TRUE(Holds(group() + "six.part4.rar", release.volumes.at("six.part4.rar")));
    EXPECT_TRUE(Holds(group() + "six.part4.rar.damaged", before.at("six.part4.rar")));
}

INSTANTIATE_TEST_SUITE_P(Rows, Par2Repair, ::testing::ValuesIn(kPar2Rows),
                         [](const ::testing::TestParamInfo<Par2Row>& info) { return std::string(info.param.name); });

// The progress calls to kill a run at: every call of a short run; of a long one, every call
// where the text changes (a new file, a deletion) and the calls beside it, and evenly spaced
// calls in between.
std::vector<long> KillPoints(const Names& calls, size_t most)
{
    std::vector<long> points;
    const long count = static_cast<long>(calls.size());
    for (long i = 0; i < count; ++i) {
        const bool changes = i == 0 || calls[i] != calls[i - 1] || (i + 1 < count && calls[i + 1] != calls[i]);
        if (count <= static_cast<long>(most) || changes || i % std::max<long>(1, count / static_cast<long>(most)) == 0)
            points.push_back(i + 1);
    }
    return points;
}

class KillSweep : public DownloadRun, public ::testing::WithParamInterface<Row> {};

// The process killed at a progress call (as a crash, Task Manager or a closed file manager
// ends it) leaves nothing lost and no file under a result's real name that is not what the
// archive holds; the same job run again finishes it: the film whole, the sources, the SFV file
// and the intermediate files gone as the settings say, nothing temporary left.
TEST_P(KillSweep, RunAgainFinishesTheJob)
{
    const Row& row = GetParam();
    const bool smallDisk = std::string(row.text) == "small disk";
    if (smallDisk && !OnSmallDisk(true))
        GTEST_SKIP() << "skipped: needs root (a tmpfs mounted by tests/small_disk.sh)";
    UseSettings(row);
    const Release release = row.release();
    // The group last and without an NFO file: a run that consumed all its sources leaves it only
    // its SFV file, and it must still be finished when no other group's entry closes it.
    selection_ = "Zed " + group_;
    withNfo_ = false;
    const std::string held = row.fault == Fault::FilmNameTaken ? kHeld : "";
    const Names calls = TracedCalls(release, row.fault, row.text);
    ASSERT_GT(calls.size(), 0u);

    Names problems;
    const std::vector<long> points = KillPoints(calls, 40);
    for (long at : points) {
        RemoveTree(src());
        RemoveTree(out());
        const Files before = Prepare(release, row.fault, row.text);
        const ProcessResult killed = RunWcxhostPack("--exit-at " + std::to_string(at),
                                                    dir_ / "plugin\\ravelpak.wcx64", out() + "new.zip", src(), selection_);
        const std::string where = "killed at call " + std::to_string(at) + ": ";
        if (killed.exitCode != 3)
            problems.push_back(where + "wcxhost exit code " + std::to_string(killed.exitCode));
        for (const std::string& loss : Losses(release, before, held))
            problems.push_back(where + loss);
        const int result = Pack("");
        for (const std::string& loss : Losses(release, before, held))
            problems.push_back(where + "after the rerun: " + loss);
        Names expected;
        for (const FilmSet& set : release.sets)
            expected.push_back(set.film);
        // The film comes out beside the file that has its name, which stays.
        if (row.fault == Fault::FilmNameTaken) {
            expected.push_back(Beside(release.sets[0].film));
            if (!Holds(destination() + release.sets[0].film, kHeld))
                problems.push_back(where + "the file under the film's name changed");
        }
        std::sort(expected.begin(), expected.end());
        const bool sourcesGo = row.deleteDuring;
        Names left;
        for (const auto& file : before)
            if (!IsSfvName(file.first) && (!sourcesGo || file.first == kNfo))
                left.push_back(file.first);
        if (result != 0 || ListTree(destination()) != expected || ListTree(group()) != left)
            problems.push_back(where + "the rerun gave " + std::to_string(result) + ", the destination holds " +
                               ::testing::PrintToString(ListTree(destination())) + ", the download folder " +
                               ::testing::PrintToString(ListTree(group())));
        if (!Holds(out() + "Zed\\zed.txt", kNext))
            problems.push_back(where + "the next group was not unpacked by the rerun");
    }
    std::string report;
    for (size_t i = 0; i < problems.size() && i < 12; ++i)
        report += "\n  " + problems[i];
    EXPECT_TRUE(problems.empty()) << points.size() << " kills over " << calls.size() << " progress calls, "
                                  << problems.size() << " problems:" << report;
}

const Row kKilledReleases[] = {
    {"SetNamedInParts", Six, Fault::None, "", true, true, 0, false},
    {"OldStyleSet", [] { return Built({{"old.mkv", OldNames("old")}}); }, Fault::None, "", true, true, 0, false},
    {"TwoZipsHoldingASet", FiveInTwoZips, Fault::None, "", true, true, 0, false},
    {"CompressedSet", [] { return Built({{"packed.mkv", Parts("packed", 3)}}); }, Fault::None, "", true, true, 0,
     false},
    {"SetKeptByTheSettings", Six, Fault::None, "", true, false, 0, false},
    // No SFV file: the PAR2 set vouches for the volumes once it repaired the damaged one and
    // gave the renamed one its name back.
    {"Par2RepairOfADamagedAndARenamedVolume", SixDamagedWithPar2, Fault::RenamedVolume, "a81f09c2d7", true, true, 0,
     false},
    // Both folders on the small disk: the set of two films fits only when its volumes go as it
    // is unpacked, and the first film comes out beside a file of its name.
    {"SmallDiskFitsTheSetOnlyUnderDeletion",
     [] { return Built({{"pair1.mkv", Parts("pair", 7)}, {"pair2.mkv", Parts("pair", 7)}}); }, Fault::FilmNameTaken,
     "small disk", true, true, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Releases, KillSweep, ::testing::ValuesIn(kKilledReleases), RowName);

}  // namespace
