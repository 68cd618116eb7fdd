#pragma once
// A repair stopped by a signal (Ctrl-C, a closed terminal, a plain kill) leaves nothing
// behind: the files it was writing beside the database (the working copy, the recovery
// file) are removed from the signal handler itself, the database was never touched, and
// the process then ends as the signal asks. The commit's few steps run with the signal
// held back, so a stop never splits the original from its backup.
#include <filesystem>

namespace jet {

// The handlers are installed by remove_unfinished_repair_on_signal (engine.h): POSIX
// SIGINT, SIGTERM and SIGHUP; SIGINT and SIGTERM on Windows.

// While alive, the file is removed should the process be stopped by a signal.
class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::filesystem::path& path);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;
    void release() noexcept;  // the file is no longer scratch (committed or gone)

private:
    int slot_ = -1;
};

// While alive, a stop waits: it takes effect when the section ends, with nothing removed
// when the section finished its work (`completed`).
class SignalsHeldBack {
public:
    SignalsHeldBack();
    ~SignalsHeldBack();
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;
};

}  // namespace jet
