// Post batches: messages posted on the UI thread while one is open reach
// their windows when it ends, without another pass through the event loop.
#pragma once

// While one of these lives on the UI thread, messages posted there to a
// window are held and delivered, in order with the rest of its posted
// messages, when the outermost one ends. The socket layer opens one around
// each round of readiness reports. Only the UI thread may open one.
class PostBatch {
public:
    PostBatch();
    ~PostBatch();
    PostBatch(const PostBatch&) = delete;
    PostBatch& operator=(const PostBatch&) = delete;
};
