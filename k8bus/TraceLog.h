#pragma once
// The bus library's trace file k8bus.log in the user's runtime folder (else a private folder of
// the user's in the temporary folder). Each thread appends through its own descriptor and marks
// every piece it writes with its thread id, so the lines of the host's thread, of its socket
// proxy thread and of other callers can be told apart. The file is private (0600), opened
// without waiting and never through a symbolic link (anything but a regular file is refused, and
// said once), and rolled over to k8bus.log.1 when it passes its size limit.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zs::k8bus {

/// Appends text (length -1: up to the NUL). LF becomes CR LF; pieces are at most 256 bytes.
/// Returns false when tracing is off for the thread or the write failed.
bool logWrite(const char* text, long length = -1);
inline bool logWrite(const std::string& text)
{
    return logWrite(text.data(), static_cast<long>(text.size()));
}
/// printf-style helper for the library's own fixed formats (never a format from settings).
bool logWritef(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// True while the thread has not tried to open the file yet, or has it open.
bool logIsOn();
/// Dumps bytes in lines of 32: mode 0 and 2..31 hexadecimal, 1 or >= 32 characters with a fill.
bool logDump(const unsigned char* bytes, std::size_t length, int mode);
void logClose();

/// While held (holds nest), the thread's pieces gather in memory and go to the file in one
/// write when the outermost hold is released, or at once when 64 KiB have gathered; a call's
/// trace then costs one system call, not one per line. traceFlush writes what has gathered: the
/// socket layer calls it once a wait has lasted its first short slice, so nothing waits in
/// memory while the thread waits on a peer that is slow to answer.
void traceHold();
void traceRelease();
void traceFlush();

inline constexpr std::uint64_t kDefaultTraceSizeLimit = 8u * 1024 * 1024;

/// The file's path: in $XDG_RUNTIME_DIR when that is a private folder of ours, else in the folder
/// k8bus-<uid> (0700, ours) of $TMPDIR, else of /tmp; empty when that folder cannot be had.
/// Tests point it elsewhere with setTraceFolderOverride (process-wide; threads that already
/// opened the file keep theirs).
std::string traceFilePath();
void setTraceFolderOverride(const std::string& folder);
/// The size past which the file is rolled over (process-wide; 0 restores the default).
void setTraceSizeLimit(std::uint64_t bytes);

} // namespace zs::k8bus
