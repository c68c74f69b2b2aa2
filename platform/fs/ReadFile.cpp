#include "fs/ReadFile.h"

#include "text/SystemReason.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::fs {

namespace {

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "una cartella";
    if (S_ISFIFO(mode))
        return "una pipe";
    if (S_ISSOCK(mode))
        return "un socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "un dispositivo";
    if (S_ISLNK(mode))
        return "un collegamento";
    return "un file speciale";
}

std::string megabytes(std::size_t bytes)
{
    return std::to_string(bytes >> 20) + " MB";
}

std::string notAFile(mode_t mode)
{
    return std::string("è ") + kindOf(mode) + ", non un file";
}

/// The end of both opens: keeps `fd` when it holds a regular file, with O_NONBLOCK cleared (a
/// regular file never blocks anyway; the flag goes so later reads and writes see no EAGAIN);
/// otherwise fills `failure` and closes it.
Fd keepRegularFile(Fd fd, OpenFailure& failure)
{
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        failure.errorNumber = errno;
        failure.reason = text::systemReason(failure.errorNumber);
        return Fd{};
    }
    if (!S_ISREG(st.st_mode)) {
        failure.reason = notAFile(st.st_mode);
        return Fd{};
    }
    const int fl = ::fcntl(fd.get(), F_GETFL);
    if (fl >= 0)
        (void)::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

} // namespace

Fd openForReading(const std::filesystem::path& file, std::string& error, bool* missing, bool followLinks)
{
    if (missing)
        *missing = false;
    // O_NONBLOCK: opening a FIFO without a writer, or a device, must not wait; O_NOCTTY: a
    // terminal at the name never becomes ours.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    Fd fd(::open(file.c_str(), flags));
    if (!fd.valid()) {
        const int err = errno;
        if (err == ENOENT && missing)
            *missing = true;
        if (err == ELOOP && !followLinks)
            error = file.string() + ": è un collegamento, non un file";
        else
            error = "Impossibile leggere il file " + file.string() + ": " + text::systemReason(err);
        return Fd{};
    }
    OpenFailure failure;
    fd = keepRegularFile(std::move(fd), failure);
    if (!fd.valid())
        error = "Impossibile leggere il file " + file.string() + ": " + failure.reason;
    return fd;
}

Fd openForWriting(const std::filesystem::path& file, int access, mode_t mode, std::string& error, OpenFailure* failure)
{
    OpenFailure why;
    // O_NONBLOCK: a FIFO at the name fails (no reader) or opens at once, never waits for one;
    // O_NOFOLLOW: a link planted at the name never receives the lines or becomes the lock.
    Fd fd(::open(file.c_str(), access | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
    if (fd.valid()) {
        fd = keepRegularFile(std::move(fd), why);
    } else {
        const int err = errno;
        // What stands at the name says more than the open's own reason (ENXIO, ELOOP, EISDIR).
        struct stat st {};
        if ((err == ELOOP || err == ENXIO || err == EISDIR || err == ENODEV) && ::lstat(file.c_str(), &st) == 0 &&
            !S_ISREG(st.st_mode)) {
            why.reason = notAFile(st.st_mode);
        } else {
            why.errorNumber = err;
            why.reason = text::systemReason(err);
        }
    }
    if (!fd.valid()) {
        error = "Impossibile aprire il file " + file.string() + ": " + why.reason;
        if (failure)
            *failure = std::move(why);
    }
    return fd;
}

ReadOutcome readFileBounded(const std::filesystem::path& file, std::size_t maxBytes, std::string& out,
                            std::string* error)
{
    out.clear();
    std::string why;
    bool missing = false;
    const Fd fd = openForReading(file, why, &missing);
    if (!fd.valid()) {
        if (error)
            *error = why;
        return missing ? ReadOutcome::Missing : ReadOutcome::Refused;
    }
    const auto tooLarge = [&] {
        out.clear();
        if (error)
            *error = "Il file " + file.string() + " supera il limite di " + megabytes(maxBytes);
        return ReadOutcome::Refused;
    };
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && static_cast<std::size_t>(st.st_size) > maxBytes)
        return tooLarge();
    out.reserve(static_cast<std::size_t>(st.st_size));
    // The file may grow while it is read: the bound holds for what is read, not for what fstat said.
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            out.clear();
            if (error)
                *error = "Impossibile leggere il file " + file.string() + ": " + text::systemReason(errno);
            return ReadOutcome::Refused;
        }
        if (got == 0)
            break;
        if (out.size() + static_cast<std::size_t>(got) > maxBytes)
            return tooLarge();
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return ReadOutcome::Read;
}

} // namespace zs::fs
