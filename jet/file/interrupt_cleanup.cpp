#include "jet/file/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <cstdio>
#include <wchar.h>
#else
#include <unistd.h>
#endif

#include "jet/engine.h"

namespace jet {
namespace {

// Fixed storage: the handler may only touch what needs no allocation or lock.
constexpr int kSlots = 4;
constexpr std::size_t kPathBytes = 4096;
using NativeChar = std::filesystem::path::value_type;  // wchar_t on Windows: any name
NativeChar g_paths[kSlots][kPathBytes];
enum SlotState : int { kFree, kFilling, kSet };
std::atomic<int> g_state[kSlots];
std::atomic<int> g_held{0};
std::atomic<int> g_pending{0};
const char* g_message = nullptr;

static_assert(std::atomic<int>::is_always_lock_free);

// Returns whether any unfinished file was removed.
bool remove_registered() noexcept {
    bool removed = false;
    for (int i = 0; i < kSlots; ++i) {
        int set = kSet;
        if (g_state[i].compare_exchange_strong(set, kFree)) {
#ifdef _WIN32
            removed |= ::_wremove(g_paths[i]) == 0;
#else
            removed |= ::unlink(g_paths[i]) == 0;
#endif
        }
    }
    return removed;
}

void end_by(int signal_number) noexcept {
    if (remove_registered() && g_message != nullptr) {
#ifndef _WIN32
        [[maybe_unused]] const auto written = ::write(2, g_message, std::strlen(g_message));
#endif
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

extern "C" void on_stop(int signal_number) {
    if (g_held.load() > 0) {
        g_pending.store(signal_number);
        return;
    }
    end_by(signal_number);
}

}  // namespace

void remove_unfinished_repair_on_signal(const char* message) {
    g_message = message;
#ifdef _WIN32
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
#else
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
#endif
}

RemovedOnSignal::RemovedOnSignal(const std::filesystem::path& path) {
    const auto& text = path.native();
    if (text.size() >= kPathBytes) return;
    for (int i = 0; i < kSlots; ++i) {
        int free = kFree;
        if (!g_state[i].compare_exchange_strong(free, kFilling)) continue;
        std::memcpy(g_paths[i], text.c_str(), (text.size() + 1) * sizeof(NativeChar));
        g_state[i].store(kSet);  // only now may the handler read the path
        slot_ = i;
        return;
    }
}

RemovedOnSignal::~RemovedOnSignal() { release(); }

void RemovedOnSignal::release() noexcept {
    if (slot_ >= 0) g_state[slot_].store(kFree);
    slot_ = -1;
}

SignalsHeldBack::SignalsHeldBack() { g_held.fetch_add(1); }

SignalsHeldBack::~SignalsHeldBack() {
    if (g_held.fetch_sub(1) == 1)
        if (const int signal_number = g_pending.exchange(0)) end_by(signal_number);
}

}  // namespace jet
