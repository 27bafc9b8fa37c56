#include "bank/FileUtil.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonvero {

namespace {

// Closes a descriptor when the scope ends.
struct FdGuard {
    int fd;
    explicit FdGuard(int f) : fd(f) {}
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
};

int openForReading(const std::string& path) {
    int fd;
    do {
        // O_NONBLOCK: opening a FIFO must not wait for a writer; it is then
        // refused as no regular file. Reads of regular files are unaffected.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The size of a regular file open on `fd`, or -1.
int64_t regularFileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::unique_ptr<MappedFile> MappedFile::open(const std::string& path, size_t maxBytes) {
    const int fd = openForReading(path);
    if (fd < 0) return nullptr;
    FdGuard guard(fd);
    const int64_t size = regularFileSize(fd);
    if (size < 0 || static_cast<uint64_t>(size) > maxBytes) return nullptr;
    if (size == 0) return std::unique_ptr<MappedFile>(new MappedFile(nullptr, 0));
    void* mapped = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) return nullptr;
    // Read mostly front to back: read ahead generously.
    ::madvise(mapped, static_cast<size_t>(size), MADV_SEQUENTIAL);
    return std::unique_ptr<MappedFile>(new MappedFile(static_cast<const uint8_t*>(mapped), static_cast<size_t>(size)));
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

void MappedFile::release(const uint8_t* from, size_t count) const {
    if (!data_ || from < data_ || count == 0) return;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t begin = static_cast<size_t>(from - data_);
    if (begin >= size_) return;
    const size_t end = std::min(size_, begin + count);
    const size_t first = (begin + page - 1) / page * page;
    const size_t last = end == size_ ? end : end / page * page;
    if (last <= first) return;
    ::madvise(const_cast<uint8_t*>(data_) + first, last - first, MADV_DONTNEED);
}

int32_t fileLength(const std::string& path) {
    const int fd = openForReading(path);
    if (fd < 0) return -1;
    FdGuard guard(fd);
    const int64_t size = regularFileSize(fd);
    if (size < 0 || size > static_cast<int64_t>(kMaxFileBytes)) return -1;
    return static_cast<int32_t>(size);
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    const int fd = openForReading(path);
    if (fd < 0) return false;
    FdGuard guard(fd);
    const int64_t size = regularFileSize(fd);
    if (size < 0 || static_cast<uint64_t>(size) > maxBytes) return false;

    out.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {  // an error, or the file shrank while we read it
            out.clear();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool replaceFileContents(const std::string& path, const uint8_t* data, size_t size) {
    return replaceFileWith(
        path, [&](const std::function<bool(const uint8_t*, size_t)>& append) { return append(data, size); });
}

bool replaceFileWith(const std::string& linkOrPath,
                     const std::function<bool(const std::function<bool(const uint8_t*, size_t)>& append)>& write) {
    // A symbolic link keeps pointing at the file it names: that file is replaced.
    std::string path = linkOrPath;
    struct stat link {};
    if (::lstat(linkOrPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(linkOrPath.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
    }
    // The temporary file sits beside the target so that the rename stays on
    // one file system and is atomic.
    static std::atomic<unsigned> counter{0};
    const std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;

    bool ok = write([fd](const uint8_t* data, size_t size) { return writeAll(fd, data, size); });
    struct stat st {};
    if (ok && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace tonvero
