// The telnet byte rules of the caller's side; no I/O here.
#include "relay/telnet.h"

namespace {
// The group count only matters modulo 3. A caller that answers with option
// groups for ever must not run it past the int range, so it is brought back
// by this multiple of 3 when it gets there; every smaller count is unchanged.
constexpr int kCountWrap = 3 * (1 << 29);
}  // namespace

int SkipOptionReplies(const BYTE* data, int n, bool& negotiating, int& count)
{
    if (n <= 0)
        return n;
    if (!negotiating)
        return 0;
    for (int k = 0; k < n; ++k) {
        if (count % 3 == 0 && data[k] != TELNET_IAC) {
            negotiating = false;
            return k;
        }
        count += 1;
        if (count >= kCountWrap)
            count -= kCountWrap;
    }
    return n;
}

int UndoubleIac(const BYTE* in, int n, BYTE* out, int& iacPending)
{
    int w = 0;
    for (int k = 0; k < n; ++k) {
        const BYTE b = in[k];
        if (iacPending) {
            iacPending = 0;
            if (b != TELNET_IAC)
                out[w++] = b;
        } else {
            out[w++] = b;
            if (b == TELNET_IAC)
                iacPending = 1;
        }
    }
    return w;
}

int CallerBytesToHost(const BYTE* in, int n, bool& negotiating, int& count, int& iacPending, BYTE* out)
{
    if (n <= 0)
        return 0;
    const int from = negotiating ? SkipOptionReplies(in, n, negotiating, count) : 0;
    return UndoubleIac(in + from, n - from, out, iacPending);
}

int DoubleIac(const BYTE* in, int n, BYTE* out)
{
    int w = 0;
    for (int k = 0; k < n; ++k) {
        out[w++] = in[k];
        if (in[k] == TELNET_IAC)
            out[w++] = TELNET_IAC;
    }
    return w;
}
