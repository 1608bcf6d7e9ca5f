// POSIX files and directories (see file-system.h).
#include "platform/file-system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace zor::file_system {

int open_for_reading(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int open_for_writing(const std::string& path, bool keep) {
    int fd;
    do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void close_file(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}

int64_t size_of(int descriptor) {
    struct stat info;
    if (::fstat(descriptor, &info) != 0) return -1;
    return int64_t(info.st_size);
}

bool seek_to(int descriptor, int64_t offset) { return ::lseek(descriptor, off_t(offset), SEEK_SET) >= 0; }

bool seek_to_end(int descriptor) { return ::lseek(descriptor, 0, SEEK_END) >= 0; }

int64_t read_fully(int descriptor, void* buffer, size_t count) {
    auto* at = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        // The system moves at most about 2 GiB per call; larger counts go in pieces.
        size_t piece = std::min<size_t>(count - done, size_t(1) << 30);
        ssize_t n = ::read(descriptor, at + done, piece);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

std::optional<std::vector<uint8_t>> read_to_end(int descriptor, size_t limit) {
    std::vector<uint8_t> bytes;
    size_t used = 0;
    const size_t most = limit + 1;
    while (used < most) {
        if (bytes.size() - used < 65536) bytes.resize(std::min(most, std::max<size_t>(bytes.size() * 2, used + 65536)));
        ssize_t n = ::read(descriptor, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        used += size_t(n);
    }
    bytes.resize(used);
    return bytes;
}

int64_t write_fully(int descriptor, const void* buffer, size_t count) {
    const auto* at = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        size_t piece = std::min<size_t>(count - done, size_t(1) << 30);
        ssize_t n = ::write(descriptor, at + done, piece);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += size_t(n);
    }
    return int64_t(done);
}

std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path) {
    if (is_directory(path)) return std::nullopt;
    int fd = open_for_reading(path);
    if (fd < 0) return std::nullopt;
    auto bytes = read_to_end(fd);
    close_file(fd);
    return bytes;
}

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t size_of_path(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return -1;
    return int64_t(info.st_size);
}

std::optional<std::vector<directory_entry>> list_directory(const std::string& path) {
    DIR* directory = ::opendir(path.empty() ? "." : path.c_str());
    if (!directory) return std::nullopt;
    std::vector<directory_entry> entries;
    while (dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool is_dir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info;
            is_dir = ::fstatat(::dirfd(directory), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back({std::move(name), is_dir});
    }
    ::closedir(directory);
    std::sort(entries.begin(), entries.end(),
              [](const directory_entry& a, const directory_entry& b) { return a.name < b.name; });
    return entries;
}

bool make_directory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool remove_path(const std::string& path, bool directory) {
    return directory ? ::rmdir(path.c_str()) == 0 : ::unlink(path.c_str()) == 0;
}

bool rename_path(const std::string& from, const std::string& to) {
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: a hard link fails when the new name
    // exists, so link-then-unlink never replaces a file. Directories cannot be linked;
    // for them the check and the rename are two steps.
    if (is_directory(from)) {
        if (exists(to)) return false;
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

std::optional<modification_time> modified_at(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return modification_time{int64_t(info.st_mtim.tv_sec), int32_t(info.st_mtim.tv_nsec)};
}

}  // namespace zor::file_system
