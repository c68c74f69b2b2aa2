#pragma once
// The short exclusive lock every writer of the settings file holds while it reads the file again
// and writes it, so that two writers' saves never interleave. Used by the settings file's save.

#include "fs/Fd.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace zs::program {

class SettingsLock {
  public:
    /// How long a save waits for another writer to let go: a save holds the lock for one read and
    /// one write, far below it, and the window that saves must not freeze for longer.
    static constexpr std::chrono::milliseconds kWait{500};

    /// Takes the lock on `.zentrikSettings.lock` beside `settingsFile`, waiting at most `wait`.
    /// Something else at the lock's name (a FIFO, a link, a folder) is never opened as the lock.
    explicit SettingsLock(const std::filesystem::path& settingsFile, std::chrono::milliseconds wait = kWait);

    bool held() const { return m_fd.valid(); }
    /// Without the lock: what the operator is told ("Impostazioni salvate senza il blocco …: …").
    std::string refusal() const;
    const std::filesystem::path& file() const { return m_file; }

  private:
    std::filesystem::path m_file;
    std::string m_why;
    fs::Fd m_fd;
};

} // namespace zs::program
