// The process runner (see process-runner.h).
#include "platform/process-runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

extern char** environ;

namespace zor::process_runner {

namespace {

// Descriptors closed when the run ends, whichever way it ends.
struct descriptors {
    std::vector<int> open;
    ~descriptors() {
        for (int fd : open) ::close(fd);
    }
    int keep(int fd) {
        if (fd >= 0) open.push_back(fd);
        return fd;
    }
    void close(int& fd) {
        if (fd < 0) return;
        for (int& kept : open) {
            if (kept == fd) kept = -1;
        }
        std::erase(open, -1);
        ::close(fd);
        fd = -1;
    }
};

// The children started without waiting, reaped when they have ended.
std::vector<pid_t> unwaited;

void reap_finished() {
    std::erase_if(unwaited, [](pid_t child) { return ::waitpid(child, nullptr, WNOHANG) != 0; });
}

// The command's words: blanks separate, double quotes group (and are dropped).
std::vector<std::string> split_command(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : command) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n')) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

int spawn(pid_t* child, const std::vector<std::string>& words, posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    // The child starts with the default SIGPIPE action, whatever this process ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    int failed = ::posix_spawnp(child, argv[0], actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    return failed;
}

// Serves the pipes until every one is closed: writes the input as the child takes it and
// reads both outputs as they come.
void serve_pipes(int& input, const std::vector<uint8_t>& bytes, int& output, std::vector<uint8_t>* output_bytes,
                 int& error, std::vector<uint8_t>* error_bytes, descriptors& owned) {
    size_t written = 0;
    if (input >= 0 && bytes.empty()) owned.close(input);
    if (input >= 0) ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) | O_NONBLOCK);
    uint8_t chunk[65536];
    while (input >= 0 || output >= 0 || error >= 0) {
        pollfd watched[3];
        int count = 0;
        int which[3];
        if (input >= 0) watched[count] = {input, POLLOUT, 0}, which[count++] = 0;
        if (output >= 0) watched[count] = {output, POLLIN, 0}, which[count++] = 1;
        if (error >= 0) watched[count] = {error, POLLIN, 0}, which[count++] = 2;
        if (::poll(watched, nfds_t(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (!watched[i].revents) continue;
            if (which[i] == 0) {
                ssize_t n = ::write(input, bytes.data() + written, bytes.size() - written);
                if (n > 0) written += size_t(n);
                // A child that stops reading (EPIPE) simply gets no more input.
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == bytes.size()) owned.close(input);
            } else {
                int& fd = which[i] == 1 ? output : error;
                std::vector<uint8_t>* into = which[i] == 1 ? output_bytes : error_bytes;
                ssize_t n = ::read(fd, chunk, sizeof chunk);
                if (n > 0) into->insert(into->end(), chunk, chunk + n);
                else if (n == 0 || (errno != EAGAIN && errno != EINTR)) owned.close(fd);
            }
        }
    }
}

}  // namespace

int64_t run(request& r) {
    static std::mutex running;  // the unwaited list is shared
    std::lock_guard lock(running);
    reap_finished();
    descriptors owned;
    const bool redirected = r.input.kind != input_spec::INHERIT || r.output.kind != output_spec::NONE ||
                            r.error.kind != output_spec::NONE;
    const bool wait = r.wait || redirected;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    struct actions_guard {
        posix_spawn_file_actions_t* a;
        ~actions_guard() { posix_spawn_file_actions_destroy(a); }
    } actions_cleanup{&actions};

    // Standard input.
    int input_write = -1;
    if (r.input.kind == input_spec::FILE) {
        int fd = owned.keep(::open(r.input.path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd < 0) return FAILED;
        posix_spawn_file_actions_adddup2(&actions, fd, 0);
    } else if (r.input.kind == input_spec::BYTES) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return FAILED;
        owned.keep(ends[0]);
        input_write = owned.keep(ends[1]);
        posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    }

    // Standard output and error.
    int capture[3] = {-1, -1, -1};
    for (int stream = 1; stream <= 2; ++stream) {
        output_spec& spec = stream == 1 ? r.output : r.error;
        if (spec.kind == output_spec::FILE) {
            int fd = owned.keep(::open(spec.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
            if (fd < 0) return stream == 1 ? OUTPUT_FILE_FAILED : ERROR_FILE_FAILED;
            posix_spawn_file_actions_adddup2(&actions, fd, stream);
        } else if (spec.kind == output_spec::CAPTURE) {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) return FAILED;
            capture[stream] = owned.keep(ends[0]);
            owned.keep(ends[1]);
            posix_spawn_file_actions_adddup2(&actions, ends[1], stream);
        } else if (!r.console) {
            posix_spawn_file_actions_addopen(&actions, stream, "/dev/null", O_WRONLY, 0);
        }
    }

    const std::vector<std::string> shell_words = {"/bin/sh", "-c", r.command};
    pid_t child = 0;
    int failed;
    if (r.shell) {
        failed = spawn(&child, shell_words, &actions);
    } else {
        std::vector<std::string> words = split_command(r.command);
        failed = words.empty() ? ENOENT : spawn(&child, words, &actions);
        if (failed == ENOENT || failed == EACCES) failed = spawn(&child, shell_words, &actions);
    }
    if (failed) return FAILED;

    // The child holds its own copies now; the parent keeps only its ends of the pipes.
    int input_end = input_write;
    for (int& fd : owned.open) {
        bool ours = fd == input_write || fd == capture[1] || fd == capture[2];
        if (!ours) {
            ::close(fd);
            fd = -1;
        }
    }
    std::erase(owned.open, -1);
    serve_pipes(input_end, r.input.bytes, capture[1], &r.output.captured, capture[2], &r.error.captured, owned);

    if (!wait) {
        unwaited.push_back(child);
        return child;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return FAILED;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return FAILED;
}

}  // namespace zor::process_runner
