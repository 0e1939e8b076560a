// Tests of posted window messages: their order from one thread and several,
// delivery at the end of a post batch, and delivery from a modal loop that a
// handler runs.
#include "platform/windows/dialog.h"
#include "platform/windows/postbatch.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/pump.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr UINT kMsg = WM_APP + 7;

const DialogTemplate kTemplate{1, 40, 20, "post test", "Sans", 9, TS_NONE, {}, {}};

// A window that records the wParam of every kMsg it receives and can run a
// modal loop from its handler.
class Window : public CDialogEx {
public:
    Window() : CDialogEx(kTemplate)
    {
        OnMessage(kMsg, [this](WPARAM w, LPARAM) {
            got.push_back(static_cast<int>(w));
            if (onMessage)
                onMessage(static_cast<int>(w));
            return LRESULT(0);
        });
    }
    std::vector<int> got;
    std::function<void(int)> onMessage;
};

using pump::PumpUntil;

std::vector<int> Range(int from, int to)
{
    std::vector<int> v;
    for (int i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

// Messages from the UI thread and from another thread each arrive once, in
// the order each thread posted them, and only through the event loop.
TEST(PostTest, OrderFromEveryThread)
{
    Window w;
    for (int i = 0; i < 100; ++i)
        w.PostMessage(kMsg, static_cast<WPARAM>(i), 0);
    EXPECT_TRUE(w.got.empty()) << "a posted message ran before the event loop did";
    std::thread other([&] {
        for (int i = 1000; i < 3000; ++i)
            PostMessageA(&w, kMsg, static_cast<WPARAM>(i), 0);
    });
    other.join();
    ASSERT_TRUE(PumpUntil([&] { return w.got.size() >= 2100; }));
    EXPECT_EQ(std::vector<int>(w.got.begin(), w.got.begin() + 100), Range(0, 100));
    EXPECT_EQ(std::vector<int>(w.got.begin() + 100, w.got.end()), Range(1000, 3000));
}

// Inside a batch nothing is delivered; the end of the outermost batch
// delivers, after what was posted before the batch.
TEST(PostTest, BatchDeliversAtItsEnd)
{
    Window w;
    w.PostMessage(kMsg, 1, 0);
    {
        PostBatch outer;
        w.PostMessage(kMsg, 2, 0);
        {
            PostBatch inner;
            w.PostMessage(kMsg, 3, 0);
        }
        EXPECT_TRUE(w.got.empty()) << "an inner batch delivered";
    }
    EXPECT_EQ(w.got, (std::vector<int>{1, 2, 3}));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(w.got, (std::vector<int>{1, 2, 3})) << "a message came twice";
}

// A handler that runs a modal loop still gets the messages queued behind its
// own from inside that loop, in order; the outer delivery then has nothing
// left to repeat.
TEST(PostTest, ModalLoopInHandlerGetsTheRest)
{
    Window w;
    std::vector<int> seenInLoop;
    w.onMessage = [&](int n) {
        if (n != 1)
            return;
        PumpUntil([&] { return w.got.size() >= 3; });
        seenInLoop = w.got;
    };
    {
        PostBatch batch;
        for (int i = 1; i <= 3; ++i)
            w.PostMessage(kMsg, static_cast<WPARAM>(i), 0);
    }
    EXPECT_EQ(seenInLoop, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(w.got, (std::vector<int>{1, 2, 3}));
}

// A window destroyed with messages still queued for it gets none of them:
// neither those waiting for the event loop nor those of a batch still open.
TEST(PostTest, DestroyedWindowGetsNothingMore)
{
    std::vector<int> seen;
    auto w = std::make_unique<Window>();
    w->onMessage = [&](int n) { seen.push_back(n); };
    w->PostMessage(kMsg, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    for (int i = 2; i <= 4; ++i)
        w->PostMessage(kMsg, static_cast<WPARAM>(i), 0);
    w.reset();
    {
        auto gone = std::make_unique<Window>();
        gone->onMessage = [&](int n) { seen.push_back(n); };
        PostBatch batch;
        gone->PostMessage(kMsg, 5, 0);
        gone.reset();
    }
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(seen, (std::vector<int>{1}));
}

// A dialog that has ended gets none of the messages queued behind the one
// that ended it, even those of the same delivery pass.
TEST(PostTest, EndedDialogGetsNothingMore)
{
    Window w;
    w.onMessage = [&](int n) {
        if (n == 1)
            w.EndDialog(IDOK);
    };
    QTimer::singleShot(0, &w, [&] {
        for (int i = 1; i <= 3; ++i)
            w.PostMessage(kMsg, static_cast<WPARAM>(i), 0);
    });
    EXPECT_EQ(w.DoModal(), IDOK);
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(w.got, (std::vector<int>{1}));
}

}  // namespace
