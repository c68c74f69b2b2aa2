#pragma once
// Reading the files the program is given without ever blocking or running out of memory: a
// FIFO, a directory or a device at a file's name is refused at once, and each kind of file has
// a size bound. Every reader of a whole file (settings, XML documents, INI files) goes through
// here; the streaming XML import opens its data files here too, unbounded by size.

#include "fs/Fd.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace zs::fs {

/// Size bounds per kind of file, far above what real files hold.
struct ReadLimit {
    static constexpr std::size_t kIni = 4u << 20;              ///< per-user INI, kor8.ini
    static constexpr std::size_t kSettings = 16u << 20;        ///< zentrikServer.xml
    static constexpr std::size_t kStore = 16u << 20;           ///< cadenzo.xml, autostart entries
    static constexpr std::size_t kSchema = 16u << 20;          ///< the import's mapping schema
    static constexpr std::size_t kDocument = 64u << 20;        ///< loading and creation XML, stat.xml, OLAP files
    static constexpr std::size_t kUnbounded = ~std::size_t{0}; ///< streamed input
};

enum class ReadOutcome {
    Read,    ///< the whole file is in `out`
    Missing, ///< nothing at that name (or a dangling link)
    Refused, ///< not a regular file, over the bound, or unreadable: `error` says which
};

/// Opens a regular file for reading without blocking on what stands at its name (the open
/// never waits for a FIFO's writer or a device). A link is followed unless `followLinks` is
/// false. Fills `error` (file name and reason, in the operator's words) and returns an invalid
/// descriptor otherwise; `missing` tells a name that holds nothing apart.
[[nodiscard]] Fd openForReading(const std::filesystem::path& file, std::string& error, bool* missing = nullptr,
                                bool followLinks = true);

/// Why an open failed, for a caller that words the failure its own way.
struct OpenFailure {
    int errorNumber = 0; ///< the system's error; 0 when what stands at the name was refused
    std::string reason;  ///< the reason in the operator's words ("è una pipe, non un file")
};

/// Opens a log or lock file for writing (`access`: O_WRONLY with O_APPEND, or O_RDWR), creating it
/// with `mode` when missing, without blocking and without following a link at its name: a FIFO,
/// a folder, a device or a link there is refused at once. Fills `error` ("Impossibile aprire il
/// file <file>: " and the reason) and `failure`, when given, and returns an invalid descriptor
/// otherwise.
[[nodiscard]] Fd openForWriting(const std::filesystem::path& file, int access, mode_t mode, std::string& error,
                                OpenFailure* failure = nullptr);

/// Reads a whole regular file of at most `maxBytes` bytes.
[[nodiscard]] ReadOutcome readFileBounded(const std::filesystem::path& file, std::size_t maxBytes, std::string& out,
                                          std::string* error = nullptr);

} // namespace zs::fs
