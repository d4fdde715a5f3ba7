// snctl scan against an emulated bus with nodes at 3 and 200 only.
#include "snctlFixture.h"

namespace {

using sntest::RunResult;

class ScanTest : public SnctlTest {
protected:
    static snsim::Options twoNodes() {
        snsim::Options options = quietPorts();
        options.slaves = {3, 200};
        return options;
    }
    ScanTest() : SnctlTest(twoNodes()) {}
    void SetUp() override {
        SnctlTest::SetUp();
        sim.setReg(15, 31337, 3);
        sim.setReg(16, 0x0102, 3);
        sim.setReg(15, 4242, 200);
        sim.setReg(16, 0x0311, 200);
    }
};

TEST_F(ScanTest, ListsExactlyTheAnsweringNodesAndWritesNothing) {
    const RunResult text = snctl({"scan", "--slaves", "1-5,199-201,3"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "slave 3: serial number 31337, software revision 0x0102\n"
              "slave 200: serial number 4242, software revision 0x0311\n");
    EXPECT_EQ(text.err, "") << "no progress where standard error is no terminal";
    std::vector<int> asked;
    for (const auto& t : sim.log()) {
        EXPECT_EQ(t.function, 3);
        EXPECT_EQ(t.address, 15);
        EXPECT_EQ(t.quantity, 2);
        asked.push_back(t.slave);
    }
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3, 4, 5, 199, 200, 201}));

    const RunResult json = snctl({"scan", "--slaves", "190-210", "--timeout", "30"}, {"--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"nodes\":[{\"slave\":200,\"serial_number\":4242,\"software_revision\":785}]}\n");
}

TEST_F(ScanTest, AnAnswerWithoutIdentityIsNotedNotListed) {
    sim.setFault(snsim::Fault::Exception, {}, 2);
    const RunResult run = snctl({"scan", "--slaves", "3,4"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"nodes\":[]}\n");
    EXPECT_EQ(run.err,
              "snctl: scan: slave 3 answered without an identity: the node refused the request "
              "(Illegal data address)\n");
}

}  // namespace
