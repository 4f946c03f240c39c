// The message a feedback forwarder sends to the core's socket: anyone who
// can reach the socket may send anything.
#include "core_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    String path;
    Feedback f;
    if (Core::FeedbackDecode(data, size, &path, &f)) {
        // What decodes encodes back to something that decodes the same.
        String again = Core::FeedbackEncode(path, f.Words(), f.Values());
        String p2;
        Feedback f2;
        if (!Core::FeedbackDecode(reinterpret_cast<const uint8_t *>(again.data()), again.size(), &p2, &f2) ||
            p2 != path || f2.Words() != f.Words() || f2.Values() != f.Values())
            __builtin_trap();
        for (const String &w : f.Words())
            for (char c : w)
                if (static_cast<unsigned char>(c) < 0x20)
                    __builtin_trap();
    }
    // The forwarder's side: its input as KEY=value lines.
    StringVector words;
    std::vector<std::pair<String, String>> values;
    Core::FeedbackFromRun({String(reinterpret_cast<const char *>(data), size)},
                          String(reinterpret_cast<const char *>(data), size), &words, &values);
    for (const auto &v : values)
        for (char c : v.second)
            if (c == '\n')
                __builtin_trap();
    return 0;
}
