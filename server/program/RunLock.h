#pragma once
// The lock a run holds on its program folder, in the program and in zs-extract alike, with the
// lines a run that meets a busy folder writes. Qt-free.

#include "program/DesktopIntegration.h"

#include <filesystem>
#include <string>

namespace zs::program {

/// The lock a run (an extraction or a cube processing, by the program or by zs-extract) holds
/// on its program folder for its length: a second run on the same folder finds it held and does
/// not start. An idle program holds none.
class RunLock : public FolderFileLock {
  public:
    explicit RunLock(const std::filesystem::path& programFolder);
    ~RunLock();
    /// The run line of a run that does not start, `what` ("Estrazione", "Elaborazione") first.
    std::string refusal(const std::string& what) const;
    /// The line of a scheduled run that waits for the folder another run holds.
    std::string waiting(const std::string& what) const;
    /// The line of a waiting scheduled run that is dropped: by Stop, or as the program closes.
    std::string dropped(const std::string& what, bool closing) const;
    /// How many run locks this process holds now (a run, a database build): a wait for the
    /// folder must not block what holds it further down the same thread.
    static int heldInThisProcess();
};

} // namespace zs::program
