// What writing many small files costs a Windows program on this machine, without any archive:
// bench_create FOLDER plain|durable THREADS writes 20 folders of 250 files of 4,000 bytes (the
// files of the many-files ZIP) below FOLDER on THREADS threads, and prints "seconds S".
// "plain" creates, writes and closes each file, as unzip does; "durable" takes the way of an
// unpacked output (a temporary name, the data flushed, the rename through the handle).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/output_file.h"

namespace {

const int kFolders = 20;
const int kFilesPerFolder = 250;
const size_t kFileSize = 4000;

bool WritePlain(const std::string& path, const std::vector<char>& data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    const bool written = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &done, nullptr) != 0;
    CloseHandle(file);
    return written && done == data.size();
}

bool WriteDurable(const DiskRoot& root, const std::string& path, const std::vector<char>& data)
{
    OutputFile output(root, path);
    return output.Create() && output.Write(data.data(), data.size()) && output.Finish(nullptr, nullptr, nullptr) &&
           output.Place(Existing::KeepBoth);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (std::string(argv[2]) != "plain" && std::string(argv[2]) != "durable")) {
        std::fprintf(stderr, "usage: bench_create FOLDER plain|durable THREADS\n");
        return 2;
    }
    const std::string root = argv[1];
    const bool durable = std::string(argv[2]) == "durable";
    const int threads = std::max(1, std::atoi(argv[3]));
    CreateDirectoryA(root.c_str(), nullptr);
    for (int folder = 0; folder < kFolders; ++folder)
        CreateDirectoryA((root + "\\sub" + std::to_string(folder)).c_str(), nullptr);
    const std::vector<char> data(kFileSize, 'x');
    const DiskRoot disk(root + "\\");

    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::atomic<int> next(0), failed(0);
    const auto work = [&] {
        for (int i = next++; i < kFolders * kFilesPerFolder; i = next++) {
            const std::string path = root + "\\sub" + std::to_string(i / kFilesPerFolder) + "\\file" +
                                     std::to_string(i % kFilesPerFolder) + ".txt";
            if (!(durable ? WriteDurable(disk, path, data) : WritePlain(path, data)))
                ++failed;
        }
    };
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();
    QueryPerformanceCounter(&stop);
    if (failed > 0) {
        std::fprintf(stderr, "bench_create: %d files could not be written\n", failed.load());
        return 1;
    }
    std::printf("seconds %.3f\n", static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
