// The snsim program: ready line, serving, SIGTERM, bad arguments.
#include "simClient.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

using namespace simtest;

namespace {

struct Proc {
    pid_t pid = -1;
    int out = -1, err = -1;
};

Proc spawn(const std::vector<std::string>& args) {
    int o[2], e[2];
    if (pipe(o) != 0 || pipe(e) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(o[1], 1);
        dup2(e[1], 2);
        close(o[0]);
        close(e[0]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(SNSIM_EXE));
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SNSIM_EXE, argv.data());
        _exit(127);
    }
    close(o[1]);
    close(e[1]);
    return {pid, o[0], e[0]};
}

// Reads from fd until `lines` newlines have come or the time is up.
std::string readLines(int fd, int lines, std::chrono::milliseconds limit) {
    std::string s;
    const auto end = Clock::now() + limit;
    while (Clock::now() < end && std::count(s.begin(), s.end(), '\n') < lines) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) break;
        s += c;
    }
    return s;
}

// Exit status, or -1 if it had not ended within the limit (then killed).
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int st = 0;
    while (Clock::now() < end) {
        if (waitpid(pid, &st, WNOHANG) == pid)
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return -1;
}

}  // namespace

TEST(Executable, PrintsReadyServesAndExitsCleanlyOnSigterm) {
    const std::string link = "/tmp/snsim-exe-test-" + std::to_string(getpid());
    const std::string inst = link + "-p1";
    Proc p = spawn({"--link", link, "--slave", "1,7", "--port1", "pty:" + inst, "--port2", "none"});
    ASSERT_GT(p.pid, 0);
    const std::string out = readLines(p.out, 2, 5s);
    EXPECT_EQ(out, "port 1 instrument on " + inst + "\nsnsim ready on " + link + "\n");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    {
        Client c(link, 7);
        ASSERT_TRUE(c.ok());
        EXPECT_GE(c.readReg(15), 0);
    }
    kill(p.pid, SIGTERM);
    EXPECT_EQ(waitExit(p.pid, 3s), 0);
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    EXPECT_NE(lstat(inst.c_str(), &st), 0);
    close(p.out);
    close(p.err);
}

TEST(Executable, ReadyLineNamesThePtsWithoutLinkAndSigintEnds) {
    Proc p = spawn({"--line-timing", "--baud", "38400"});
    const std::string out = readLines(p.out, 1, 5s);
    ASSERT_EQ(out.rfind("snsim ready on /dev/pts/", 0), 0u) << out;
    const std::string dev = out.substr(15, out.size() - 16);
    {
        Client c(dev);
        EXPECT_GE(c.readReg(16), 0);
    }
    kill(p.pid, SIGINT);
    EXPECT_EQ(waitExit(p.pid, 3s), 0);
    close(p.out);
    close(p.err);
}

TEST(Executable, BadArgumentsExitWithStatus2AndOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--slave", "0"},
                                                                  {"--slave", "1,x"},
                                                                  {"--port1", "serial"},
                                                                  {"--bogus"},
                                                                  {"--link"},
                                                                  {"--baud", "-5"}}) {
        Proc p = spawn(args);
        const std::string err = readLines(p.err, 2, 3s);
        EXPECT_EQ(waitExit(p.pid, 3s), 2) << args[0];
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        close(p.out);
        close(p.err);
    }
    Proc h = spawn({"--help"});
    EXPECT_NE(readLines(h.out, 1, 3s).find("usage"), std::string::npos);
    EXPECT_EQ(waitExit(h.pid, 3s), 0);
    close(h.out);
    close(h.err);
}
