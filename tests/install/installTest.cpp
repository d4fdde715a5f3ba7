// The installed tree as a user gets it: files in place, programs built
// against it through pkg-config and find_package in C and C++, and the
// installed snctl, all switching power outputs of an emulated node.
#include "capturedProcess.h"

#include "snsim/emulator.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <unistd.h>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using sntest::RunResult;

namespace {

RunResult shell(const std::string& command) {
    return sntest::runProgram({"/bin/sh", "-c", command}, std::chrono::seconds(150));
}

class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/snlib-install-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root = dir;
        // SN_INSTALLED_PREFIX: a tree installed otherwise (an unpacked .deb,
        // say), its libraries in SN_INSTALLED_LIBDIR below it.
        if (const char* installed = std::getenv("SN_INSTALLED_PREFIX")) {
            prefix = installed;
            const char* dir = std::getenv("SN_INSTALLED_LIBDIR");
            libdir = prefix + "/" + (dir != nullptr ? dir : LIBDIR);
            return;
        }
        prefix = root + "/prefix";
        const RunResult install =
            shell(std::string(CMAKE_COMMAND_PATH) + " --install " BUILD_DIR " --prefix " + prefix);
        ASSERT_EQ(install.status, 0) << install.out << install.err;
        libdir = prefix + "/" LIBDIR;
    }

    static void TearDownTestSuite() {
        if (!root.empty()) fs::remove_all(root);
    }

    void SetUp() override {
        ASSERT_FALSE(prefix.empty());
        ASSERT_TRUE(sim.start());
        sim.clearLog();
    }

    // Runs a built consumer as a user would, the installed library found
    // through LD_LIBRARY_PATH, and checks the node saw output `output`
    // switched on.
    void expectSwitchesOn(const std::string& program, int output) {
        ASSERT_FALSE(sim.coil(output));
        const RunResult run =
            sntest::runProgram({"/usr/bin/env", "LD_LIBRARY_PATH=" + libdir, program,
                                sim.devicePath(), std::to_string(output)});
        ASSERT_EQ(run.status, 0) << program << ": " << run.out << run.err;
        EXPECT_EQ(run.out, "output " + std::to_string(output) + " on: 1\n");
        EXPECT_TRUE(sim.coil(output)) << program;
        bool written = false;
        for (const auto& t : sim.log())
            written = written || (t.function == 5 && t.address == output);
        EXPECT_TRUE(written) << program << " sent no write-coil request to coil " << output;
    }

    static inline std::string root, prefix, libdir;
    snsim::Emulator sim{[] {
        snsim::Options options;
        for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
        return options;
    }()};
};

TEST_F(InstalledTree, HoldsLibrariesHeaderPackageFilesProgramsManPagesAndCompletion) {
    for (const std::string& file : {libdir + "/libsnLib.a",
                                    libdir + "/libsnLib.so",
                                    prefix + "/include/snLib.h",
                                    prefix + "/include/snLimits.h",
                                    libdir + "/pkgconfig/snLib.pc",
                                    libdir + "/cmake/snLib/snLibConfig.cmake",
                                    libdir + "/cmake/snLib/snLibConfigVersion.cmake",
                                    prefix + "/bin/snctl",
                                    prefix + "/bin/snterm",
                                    prefix + "/bin/snsim",
                                    prefix + "/bin/snbusd",
                                    prefix + "/share/man/man1/snctl.1",
                                    prefix + "/share/man/man1/snbusd.1",
                                    prefix + "/share/man/man1/snterm.1",
                                    prefix + "/share/man/man1/snsim.1",
                                    prefix + "/share/bash-completion/completions/snctl",
                                    prefix + "/share/bash-completion/completions/snterm",
                                    prefix + "/share/bash-completion/completions/snsim",
                                    prefix + "/share/bash-completion/completions/snbusd",
                                    prefix + "/lib/systemd/system/snbusd@.service",
                                    prefix + "/bin/snmqtt",
                                    prefix + "/share/man/man1/snmqtt.1",
                                    prefix + "/share/bash-completion/completions/snmqtt",
                                    prefix + "/lib/systemd/system/snmqtt.service",
                                    prefix + "/lib/systemd/system/snmqtt@.service",
                                    prefix + "/etc/snmqtt/snmqtt.conf"}) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    if (access("/usr/bin/man", X_OK) == 0) {
        const RunResult page = shell("MANWIDTH=100 man -l " + prefix + "/share/man/man1/snctl.1");
        EXPECT_EQ(page.status, 0) << page.err;
        for (const char* command :
             {"info", "power N [on|off|status]", "reset-config", "clear-errors", "bridge P"}) {
            EXPECT_NE(page.out.find(command), std::string::npos) << command;
        }
    }
}

TEST_F(InstalledTree, PkgConfigBuildsCAndCxxProgramsThatSwitchPower) {
    const std::string env = "PKG_CONFIG_PATH=" + libdir + "/pkgconfig";
    const std::string flags = "$(" + env + " pkg-config --cflags --libs snLib)";
    const RunResult c = shell(std::string(C_COMPILER) + " -Wall -Wextra -Wpedantic -Werror -o " +
                              root + "/pc_c " CONSUMER_DIR "/power.c " + flags);
    ASSERT_EQ(c.status, 0) << c.err;
    const RunResult cxx =
        shell(std::string(CXX_COMPILER) + " -Wall -Wextra -Wpedantic -Werror -o " + root +
              "/pc_cpp " CONSUMER_DIR "/power.cpp " + flags);
    ASSERT_EQ(cxx.status, 0) << cxx.err;
    expectSwitchesOn(root + "/pc_c", 1);
    expectSwitchesOn(root + "/pc_cpp", 2);

    const RunResult libs = shell(env + " pkg-config --libs --cflags snLib");
    EXPECT_NE(libs.out.find("-L" + fs::canonical(libdir).string()), std::string::npos) << libs.out;
    EXPECT_NE(libs.out.find("-lmodbus"), std::string::npos) << "Requires: libmodbus " << libs.out;
}

TEST_F(InstalledTree, FindPackageBuildsSharedAndStaticConsumers) {
    const std::string build = root + "/consumer-build";
    const RunResult configure =
        shell(std::string(CMAKE_COMMAND_PATH) + " -S " CONSUMER_DIR " -B " + build +
              " -DCMAKE_PREFIX_PATH=" + prefix +
              " -DCMAKE_C_COMPILER=" C_COMPILER " -DCMAKE_CXX_COMPILER=" CXX_COMPILER);
    ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
    const RunResult made = shell(std::string(CMAKE_COMMAND_PATH) + " --build " + build + " -j2");
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    expectSwitchesOn(build + "/power_c", 0);
    expectSwitchesOn(build + "/power_cpp", 3);
    sim.setCoil(0, false);
    expectSwitchesOn(build + "/power_c_static", 0);
}

TEST_F(InstalledTree, InstalledSnctlAndItsCompletionWorkFromTheShell) {
    const RunResult run =
        sntest::runProgram({prefix + "/bin/snctl", "-p", sim.devicePath(), "power", "2", "on"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "output: 2\nstate: on\n");
    EXPECT_TRUE(sim.coil(2));

    const std::string completion = prefix + "/share/bash-completion/completions/snctl";
    const RunResult words =
        shell("bash -c 'source " + completion +
              "; COMP_WORDS=(snctl -p /dev/ttyS0 power 3 o); COMP_CWORD=5; _snctl;"
              " echo ${COMPREPLY[@]}; COMP_WORDS=(snctl port 1 c); COMP_CWORD=3; _snctl;"
              " echo ${COMPREPLY[@]}; COMP_WORDS=(snctl help sc); COMP_CWORD=2; _snctl;"
              " echo ${COMPREPLY[@]}'");
    ASSERT_EQ(words.status, 0) << words.err;
    EXPECT_EQ(words.out, "on off\nclear-errors\nscan\n");

    // The other programs' completion: options, and values where they are few.
    const std::string completions = prefix + "/share/bash-completion/completions/";
    const RunResult others =
        shell("bash -c 'source " + completions +
              "snterm; COMP_WORDS=(snterm -t \"\"); COMP_CWORD=2;"
              " _snterm; echo ${COMPREPLY[@]}; source " +
              completions +
              "snsim;"
              " COMP_WORDS=(snsim --port1 e); COMP_CWORD=2; _snsim; echo ${COMPREPLY[@]}; source " +
              completions +
              "snbusd; COMP_WORDS=(snbusd --read); COMP_CWORD=1; _snbusd;"
              " echo ${COMPREPLY[@]}'");
    ASSERT_EQ(others.status, 0) << others.err;
    EXPECT_EQ(others.out, "0 1 2\nexec:\n--read-only\n");
}

// Every option snmqtt's usage names is documented in its man page (a tag of
// its OPTIONS) and completed, and the completion offers no option the
// program does not have.
TEST_F(InstalledTree, InstalledSnmqttManPageAndCompletionNameEveryOption) {
    const RunResult help = sntest::runProgram({prefix + "/bin/snmqtt", "--help"});
    ASSERT_EQ(help.status, 0) << help.err;
    std::set<std::string> usage;
    const std::regex option("--[a-z][a-z-]*[a-z]");
    for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it)
        usage.insert(it->str());
    ASSERT_GE(usage.size(), 18u) << help.out;

    // The tags of OPTIONS: each line after a .TP, roff's "\-" as "-".
    std::ifstream page(prefix + "/share/man/man1/snmqtt.1");
    std::string tags;
    bool inOptions = false, tag = false;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
        if (inOptions && tag) {
            for (auto at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at))
                line.replace(at, 2, "-");
            tags += line + "\n";
        }
        tag = inOptions && line == ".TP";
    }
    for (const std::string& name : usage)
        EXPECT_TRUE(std::regex_search(tags, std::regex(name + "([^a-z-]|$)")))
            << name << " is not among the options of snmqtt(1):\n"
            << tags;

    const RunResult words = shell("bash -c 'source " + prefix +
                                  "/share/bash-completion/completions/snmqtt;"
                                  " COMP_WORDS=(snmqtt --); COMP_CWORD=1; _snmqtt;"
                                  " printf \"%s\\n\" \"${COMPREPLY[@]}\"'");
    ASSERT_EQ(words.status, 0) << words.err;
    std::set<std::string> offered;
    std::istringstream lines(words.out);
    for (std::string line; std::getline(lines, line);) offered.insert(line);
    for (const std::string& name : usage)
        EXPECT_TRUE(offered.count(name)) << name << " is not completed";
    for (const std::string& name : offered)
        EXPECT_TRUE(usage.count(name) || name == "--help" || name == "--version")
            << "the completion offers " << name << ", which snmqtt --help does not name";
}

}  // namespace
