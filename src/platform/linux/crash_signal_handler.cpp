#include "platform/linux/crash_signal_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/linux/crash_record.h"

namespace tovalo {

namespace {

constexpr std::array<int, 5> kSignals = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMaxPath = 4096;
constexpr int kMaxFrames = 128;
// Old context lines kept alive: the handler may still be reading one that was just replaced.
constexpr std::size_t kRetainedContexts = 16;

enum HandlingState : int { kIdle = 0, kWriting = 1, kWritten = 2 };

// Everything the handler reads is set up before it is installed and lives for the process.
char gRecordPath[kMaxPath];
struct sigaction gPrevious[kSignals.size()];
std::atomic<bool> gInstalled{false};
std::atomic<int> gHandling{kIdle};
std::atomic<const std::string*> gContext{nullptr};
void* gFrames[kMaxFrames];

// Guards installation and context updates; never taken by the handler.
std::mutex gMutex;
std::deque<std::unique_ptr<const std::string>> gContexts;

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<const std::string*>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// A small buffer the handler formats lines into, since printf is not async-signal-safe.
class LineBuffer {
  public:
    void text(const char* s) { text(s, std::strlen(s)); }
    void text(const char* s, std::size_t n) {
        n = std::min(n, sizeof data_ - size_);
        std::memcpy(data_ + size_, s, n);
        size_ += n;
    }
    void decimal(long long value) {
        char digits[24];
        std::size_t count = 0;
        const bool negative = value < 0;
        auto magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                  : static_cast<unsigned long long>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative) {
            text("-");
        }
        while (count > 0) {
            text(&digits[--count], 1);
        }
    }
    void hex(std::uintptr_t value) {
        static constexpr char kHex[] = "0123456789abcdef";
        text("0x");
        for (int shift = static_cast<int>(sizeof value * 8) - 4; shift >= 0; shift -= 4) {
            text(&kHex[(value >> shift) & 0xF], 1);
        }
    }
    void flush(int fd) {
        std::size_t written = 0;
        while (written < size_) {
            const ssize_t n = ::write(fd, data_ + written, size_ - written);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        size_ = 0;
    }

  private:
    char data_[512];
    std::size_t size_ = 0;
};

const char* signalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "SIGNAL";
    }
}

void writeRecord(int signal, const siginfo_t* info) {
    const int fd = ::open(gRecordPath, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    LineBuffer line;
    line.text(kCrashRecordMagic.data(), kCrashRecordMagic.size());
    line.text("\nsignal ");
    line.decimal(signal);
    line.text("\nname ");
    line.text(signalName(signal));
    line.text("\ncode ");
    line.decimal(info != nullptr ? info->si_code : 0);
    line.text("\naddress ");
    line.hex(info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0);
    line.text("\ntime ");
    line.decimal(static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    line.text("\n");
    line.flush(fd);
    if (const std::string* context = gContext.load()) {
        line.text("context ");
        line.flush(fd);
        // Written directly: the context may be longer than the line buffer.
        std::size_t written = 0;
        while (written < context->size()) {
            const ssize_t n = ::write(fd, context->data() + written, context->size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        line.text("\n");
    }
    line.text("backtrace\n");
    line.flush(fd);
    const int count = ::backtrace(gFrames, kMaxFrames);
    ::backtrace_symbols_fd(gFrames, count, fd);
    ::close(fd);
}

void restorePrevious(int signal) {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (kSignals[i] == signal) {
            ::sigaction(signal, &gPrevious[i], nullptr);
        }
    }
}

void handleFatalSignal(int signal, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;
    int expected = kIdle;
    if (gHandling.compare_exchange_strong(expected, kWriting)) {
        writeRecord(signal, info);
        gHandling.store(kWritten);
    } else {
        // Another thread crashed first and is writing the record; give it time to finish
        // before this signal ends the process.
        for (int i = 0; i < 200 && gHandling.load() == kWriting; ++i) {
            const timespec pause{0, 10'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    restorePrevious(signal);
    errno = savedErrno;
    // A fault raised by the processor happens again when the handler returns, this time under
    // the restored action. A signal that was sent (raise, abort, kill) must be sent again.
    if (info == nullptr || info->si_code <= 0) {
        ::raise(signal);
    }
}

}  // namespace

std::span<const int> CrashSignalHandler::signals() {
    return kSignals;
}

void CrashSignalHandler::prepareCurrentThread() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
        return;  // the thread has one already, perhaps from other tooling
    }
    const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(SIGSTKSZ), 64 * 1024);
    // Deliberately leaked: the thread may take a signal on it at any time until it ends.
    void* memory = ::operator new(size);
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = size;
    stack.ss_flags = 0;
    ::sigaltstack(&stack, nullptr);
}

bool CrashSignalHandler::install(const std::string& recordPath) {
    std::lock_guard lock(gMutex);
    if (gInstalled.load() || recordPath.size() >= kMaxPath) {
        return false;
    }
    std::memcpy(gRecordPath, recordPath.c_str(), recordPath.size() + 1);
    // The first backtrace() loads the unwinder (dlopen, malloc): do it now, not in the handler.
    void* warmUp[4];
    ::backtrace(warmUp, 4);
    prepareCurrentThread();
    gHandling.store(kIdle);

    struct sigaction action {};
    action.sa_sigaction = handleFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
    }
    gInstalled.store(true);
    return true;
}

void CrashSignalHandler::uninstall() {
    std::lock_guard lock(gMutex);
    if (!gInstalled.load()) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    }
    gInstalled.store(false);
}

bool CrashSignalHandler::isInstalled() {
    return gInstalled.load();
}

void CrashSignalHandler::setContext(std::string line) {
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    auto stored = std::make_unique<const std::string>(std::move(line));
    std::lock_guard lock(gMutex);
    gContext.store(stored.get());
    gContexts.push_back(std::move(stored));
    while (gContexts.size() > kRetainedContexts) {
        gContexts.pop_front();
    }
}

}  // namespace tovalo
