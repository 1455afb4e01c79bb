#pragma once

#include <utility>

// Owns one open file descriptor and closes it when destroyed. Moves, never copies.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : _fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept
        : _fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return _fd; }
    bool isValid() const { return _fd >= 0; }
    explicit operator bool() const { return isValid(); }
    // Gives up ownership without closing.
    int release() { return std::exchange(_fd, -1); }
    // Closes what is held (errors are not reported: use FileSystem::close where they matter).
    void reset(int fd = -1);

private:
    int _fd = -1;
};
