// Standard streams through write(2), the terminal's size through TIOCGWINSZ, Ctrl+C as SIGINT,
// the session's end as SIGTERM and SIGHUP.
#include "platform/posix/PosixConsole.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace norvale {
namespace {

// Reached from the signal handler: a lock-free atomic pointer to a lock-free atomic flag.
std::atomic<std::atomic<bool>*> watchedFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int /*signal*/) {
    if (std::atomic<bool>* flag = watchedFlag.load()) flag->store(true);
}

int descriptorOf(ConsoleStream stream) {
    return stream == ConsoleStream::output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

void PosixConsole::write(ConsoleStream stream, std::string_view text) {
    const int fd = descriptorOf(stream);
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(put));
    }
}

bool PosixConsole::isTerminal(ConsoleStream stream) const {
    return ::isatty(descriptorOf(stream)) == 1;
}

unsigned PosixConsole::width() const {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string PosixConsole::language() const {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        // Asked once, on the main thread, before anything could change the environment.
        const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
        if (value == nullptr || *value == '\0') continue;
        // "ru_RU.UTF-8", "ru", "en_GB": the letters before the territory; "C" and "POSIX" have
        // no two-letter language.
        std::string code;
        for (const char* c = value; std::isalpha(static_cast<unsigned char>(*c)); ++c) {
            code += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        }
        return code.size() == 2 ? code : std::string();
    }
    return {};
}

void PosixConsole::watchInterrupt(std::atomic<bool>* flag) {
    watchedFlag.store(flag);
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (flag != nullptr) {
        action.sa_handler = onInterrupt;
        // The first press is handled here; the handler then reverts to the default, so a second
        // press ends the program even when a transfer keeps it from its next boundary.
        action.sa_flags = SA_RESETHAND;
    } else {
        action.sa_handler = SIG_DFL;
    }
    // SIGTERM (a service manager, kill) and SIGHUP (the terminal closed) stop as the key does.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace norvale
