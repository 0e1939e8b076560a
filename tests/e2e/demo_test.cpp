// End to end: the demo host (tools/demohost) behind the relay, configured as
// the demo runs it: a caller hears the banner, gets its lines echoed, and
// "bye" hangs up with the host's hang-up string; the next caller is answered
// once the host has initialised its modem again.
#include "e2e/relay_test.h"

namespace e2e {
namespace {

const std::string kFull = "Busy.\r\n";

class Demo : public RelayTest {
protected:
    void TearDown() override
    {
        if (host_.Running()) {
            std::optional<int> status = host_.Stop(SIGTERM, kDeadline);
            ASSERT_TRUE(status) << "the demo host did not end on SIGTERM";
            EXPECT_EQ(StatusText(*status), "exit status 0") << "how the demo host ended after SIGTERM";
            std::error_code ec;
            EXPECT_FALSE(std::filesystem::is_symlink(relay_.folder() / "com" / "COM1", ec))
                << "the demo host left its link behind";
        }
        if (HasFailure())
            std::cerr << "--- demo host output ---\n"
                      << RelayRun::ReadFile(relay_.folder() / "demohost.out") << "--- end ---\n";
        RelayTest::TearDown();
    }

    // A caller that gets the line, retrying while it is refused (the host
    // may be initialising its modem, which keeps the line busy).
    void CallWhenAnswered(std::optional<TcpCaller>& caller)
    {
        Deadline deadline(20s);
        std::string why;
        for (;;) {
            ASSERT_FALSE(deadline.Passed()) << "no caller got the line";
            caller = relay_.Call(&why);
            ASSERT_TRUE(caller) << why;
            std::optional<std::string> first = caller->ReadN(1);
            ASSERT_TRUE(first) << caller->Describe();
            if (*first == "\xFF")
                return;
            ASSERT_TRUE(ReceivesThenEnd(*caller, kFull.substr(1), "a refused caller"));
            std::this_thread::sleep_for(200ms);
        }
    }

    ChildProcess host_;
};

TEST_F(Demo, CallerTalksToDemoHost)
{
    RelaySetup setup{};
    LineSetup& line = setup.lines[0];
    line.m_nRing = 2;
    line.m_nRingInterval = 300;
    line.pty = false;
    setup.check1 = "\r\nNO CARRIER\r\n";
    setup.after = "\r\nNO CARRIER\r\n";
    setup.full = kFull;
    setup.keep = 1;
    std::string why = relay_.Prepare(setup);
    ASSERT_EQ(why, "");
    std::filesystem::path demohost = OwnFolder() / "demohost";
    ASSERT_TRUE(host_.Start({demohost.string(), relay_.folder().string(), "1"}, relay_.folder().string(), {},
                            (relay_.folder() / "demohost.out").string(), &why))
        << why;
    Deadline linked(kDeadline);
    while (!std::filesystem::is_symlink(relay_.folder() / "com" / "COM1")) {
        ASSERT_FALSE(linked.Passed()) << "the demo host made no com/COM1 link";
        ASSERT_TRUE(host_.Running()) << "the demo host ended early";
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(relay_.Launch(), "");
    started_ = true;

    for (int call = 1; call <= 2; ++call) {
        SCOPED_TRACE("call " + std::to_string(call));
        std::optional<TcpCaller> caller;
        ASSERT_NO_FATAL_FAILURE(CallWhenAnswered(caller));
        ASSERT_TRUE(Receives(*caller, kOffers.substr(1), "the caller"));
        std::optional<std::string> banner = caller->ReadUntil("> ");
        ASSERT_TRUE(banner) << "no banner and prompt: " << caller->Describe();
        EXPECT_NE(banner->find("Welcome"), std::string::npos) << Printable(*banner);

        ASSERT_TRUE(caller->WriteAll("hello\r\n"));
        ASSERT_TRUE(Receives(*caller, "hello\r\nYou typed: hello\r\n> ", "the caller"));
        ASSERT_TRUE(caller->WriteAll("bye\r"));
        std::optional<std::string> last = caller->ReadToEnd();
        ASSERT_TRUE(last) << "the call did not end after bye: " << caller->Describe();
        EXPECT_EQ(*last, "bye\r\nGoodbye.\r\nNO CARRIER\r\n");
        caller->Close();
    }
}

}  // namespace
}  // namespace e2e
